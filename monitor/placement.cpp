/*
 * placement.cpp - restoring, centring and saving the status window's
 * position.
 *
 * The stored position is the window placement's normal position, which
 * Windows gives in workspace coordinates: relative to the work area's
 * top-left corner, not the screen's. Moving the window and the centre
 * test work in screen coordinates, so both shift the stored values by the
 * work area's origin. Without that, a taskbar at the top or on the left
 * would move the window by its own size on every run, and a window closed
 * at the centre would never count as centred.
 */
#include "placement.h"

#include "record.h"

namespace orv {

namespace {

constexpr LONG kVisibleMargin = 10;  // pixels of the window that must stay on the work area

bool GetWorkArea(RECT* work_area) {
    return g_system_parameters_info(SPI_GETWORKAREA, 0, work_area, 0) != FALSE;
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

BOOL(WINAPI* g_system_parameters_info)(UINT, UINT, PVOID, UINT) = ::SystemParametersInfoA;

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

bool IsUsablePosition(const RECT& work_area, int width, int height, int64_t left, int64_t top) {
    const int64_t work_left = work_area.left, work_top = work_area.top;
    const int64_t work_right = work_area.right, work_bottom = work_area.bottom;
    return work_left - width + kVisibleMargin < left && left < work_right - kVisibleMargin &&
           work_top - height + kVisibleMargin < top && top < work_bottom - kVisibleMargin;
}

void RestorePosition(HWND window) {
    LONG stored_left = 0, stored_top = 0;
    RECT work_area, rect;
    if (!ReadPosition(&stored_left, &stored_top) || !GetWorkArea(&work_area) ||
        !GetWindowRect(window, &rect)) {
        CentreWindow(window);
        return;
    }
    // Workspace to screen coordinates, in 64 bits: any stored value is
    // possible, and only a usable corner comes back to 32 bits.
    int64_t left = int64_t{stored_left} + work_area.left;
    int64_t top = int64_t{stored_top} + work_area.top;
    if (!IsUsablePosition(work_area, rect.right - rect.left, rect.bottom - rect.top, left, top)) {
        CentreWindow(window);
        return;
    }
    MoveKeepingSize(window, rect, static_cast<LONG>(left), static_cast<LONG>(top));
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
        if (normal.left + work_area.left == centre.x && normal.top + work_area.top == centre.y) {
            DeletePosition();
            return;
        }
    }
    WritePosition(normal.left, normal.top);
}

}  // namespace orv
