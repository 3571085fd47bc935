/*
 * placement.h - where the status window appears: at the position the
 * user left it in the last run, or centred on the work area.
 *
 * The position lives in the window-position key (record.h) across runs.
 * A stored position is used only while at least about 10 pixels of the
 * window stay on the work area, so a changed screen never hides the
 * window; closing the window at the centre deletes the stored position,
 * so the next run centres it again. The stored values are in workspace
 * coordinates (relative to the work area), as the window placement gives
 * them.
 */
#ifndef ORV_MONITOR_PLACEMENT_H
#define ORV_MONITOR_PLACEMENT_H

#include <windows.h>

#include <cstdint>

namespace orv {

/* Where the work area comes from (SPI_GETWORKAREA). Tests put in a work
 * area that does not start at the screen's corner: Wine keeps its own at
 * the corner, and its window placement answers in screen coordinates
 * even when the work area is offset. */
extern BOOL(WINAPI* g_system_parameters_info)(UINT, UINT, PVOID, UINT);

/* The top-left corner that centres a window of the given size on the
 * work area (halves truncated toward zero). With `keep_inside`, a work
 * area narrower or lower than the window puts that edge at the work
 * area's edge instead. */
POINT CentredOrigin(const RECT& work_area, int width, int height, bool keep_inside);

/* Whether a top-left corner (in screen coordinates) leaves enough of the
 * window on the work area. The corner is 64-bit: a stored position near
 * the limits of a 32-bit number, moved to the screen by the work area's
 * origin, is off the screen, not a wrapped-around number. */
bool IsUsablePosition(const RECT& work_area, int width, int height, int64_t left, int64_t top);

/* Moves the window to the stored position, or centres it. */
void RestorePosition(HWND window);

/* Stores the window's normal position, or deletes the stored one when
 * the window is at the centre. */
void SavePosition(HWND window);

}  // namespace orv

#endif  // ORV_MONITOR_PLACEMENT_H
