/*
 * placement.cpp - restoring, centring and saving the status window's
 * position.
 */
#include "placement.h"

#include "record.h"

namespace orv {

namespace {

constexpr LONG kVisibleMargin = 10;  // pixels of the window that must stay on the work area

bool GetWorkArea(RECT* work_area) {
    return SystemParametersInfoA(SPI_GETWORKAREA, 0, work_area, 0) != FALSE;
}

void MoveKeepingSize(HWND window, const RECT& rect, LONG left, LONG top) {
    MoveWindow(window, left, top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
}

void CentreWindow(HWND window) {
    RECT work_area, rect;
    if (!GetWorkArea(&work_area) || !GetWindowRect(window, &rect))
        return;
    POINT origin = CentredOrigin(work_area, rect.right - rect.left, rect.bottom - rect.top, true);
    MoveKeepingSize(window, rect, origin.x, origin.y);
}

}  // namespace

POINT CentredOrigin(const RECT& work_area, int width, int height, bool keep_inside) {
    POINT origin;
    origin.x = (work_area.left + work_area.right - width) / 2;
    origin.y = (work_area.top + work_area.bottom - height) / 2;
    if (keep_inside && work_area.right - work_area.left < width)
        origin.x = work_area.left;
    if (keep_inside && work_area.bottom - work_area.top < height)
        origin.y = work_area.top;
    return origin;
}

bool IsUsablePosition(const RECT& work_area, int width, int height, LONG left, LONG top) {
    return work_area.left - width + kVisibleMargin < left && left < work_area.right - kVisibleMargin &&
           work_area.top - height + kVisibleMargin < top && top < work_area.bottom - kVisibleMargin;
}

void RestorePosition(HWND window) {
    LONG left = 0, top = 0;
    RECT work_area, rect;
    if (!ReadPosition(&left, &top) || !GetWorkArea(&work_area) || !GetWindowRect(window, &rect) ||
        !IsUsablePosition(work_area, rect.right - rect.left, rect.bottom - rect.top, left, top)) {
        CentreWindow(window);
        return;
    }
    MoveKeepingSize(window, rect, left, top);
}

void SavePosition(HWND window) {
    // The normal position: the window rectangle of a window in the
    // notification area is that of its minimised form.
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof placement;
    if (!GetWindowPlacement(window, &placement))
        return;
    const RECT& normal = placement.rcNormalPosition;
    RECT work_area;
    if (GetWorkArea(&work_area)) {
        POINT centre = CentredOrigin(work_area, normal.right - normal.left, normal.bottom - normal.top, false);
        if (normal.left == centre.x && normal.top == centre.y) {
            DeletePosition();
            return;
        }
    }
    WritePosition(normal.left, normal.top);
}

}  // namespace orv
