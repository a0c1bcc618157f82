// The step-by-step dialogue behind the buttons and the piece-finished notification.
#pragma once

#include <windows.h>

constexpr UINT pieceFinishedMessage = WM_USER;

enum ControlId : int {
    sourceEditId = 21,
    destEditId = 22,
    sizeEditId = 23,
    browseButtonId = 25,
    changeButtonId = 26,
    maxButtonId = 27,
    okButtonId = 28,
    cancelButtonId = 29,
};

LRESULT onCommand(HWND window, WPARAM wParam, LPARAM lParam);
LRESULT onPieceFinished();
void onBrowse();
void onChange();
void onMax();
void onOk();
void onCancel();
void acceptSource();
void acceptDestination();
void acceptPieceSize();
