#include "app/ui_state.h"

#include <windowsx.h>

UiState ui;

std::wstring WindowText(HWND window) {
    if (!window)
        return std::wstring();
    const int length = GetWindowTextLengthW(window);
    if (length <= 0)
        return std::wstring();
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(window, &text[0], length + 1);
    text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
    return text;
}

bool IsChecked(HWND box) {
    return Button_GetCheck(box) == BST_CHECKED;
}

void SetChecked(HWND box, bool checked) {
    Button_SetCheck(box, checked ? BST_CHECKED : BST_UNCHECKED);
}
