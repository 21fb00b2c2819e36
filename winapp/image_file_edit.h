#pragma once

#include <windows.h>

#include <string>

#include "helpers/result.h"

namespace quillon {

// The image file field over the template's edit box: the edit box for the path of the HEX file
// to download, a browse button "..." right of it (made here, a tab stop after the edit box; the
// edit box gives up the room for it), and the edit box as a drop target for a file from the
// Explorer (the first file dropped replaces the text). The field never writes a setting; the
// window reads its text when it needs it.
//
// The browse button's clicks reach the dialog as WM_COMMAND with the button's id; the dialog
// hands them to OnBrowse.
class Win32ImageFileEdit {
public:
    Win32ImageFileEdit() = default;
    ~Win32ImageFileEdit();
    Win32ImageFileEdit(const Win32ImageFileEdit&) = delete;
    Win32ImageFileEdit& operator=(const Win32ImageFileEdit&) = delete;

    // Takes over the edit box `editId` of `dialog` and makes the browse button `browseId`; an
    // error when the dialog has no such edit box or the button could not be made.
    Status Attach(HWND dialog, int editId, int browseId);

    HWND Edit() const { return m_edit; }
    HWND BrowseButton() const { return m_browse; }

    std::string GetText() const;  // UTF-8
    void SetText(const std::string& text);

    // The file dialog's title, default extension (".HEX": a typed name without one gets it)
    // and filter in the bar notation of window/image_file_dialog.h.
    void SetDialogTitle(const std::string& title) { m_title = title; }
    void SetDefaultExtension(const std::string& extension) { m_defaultExtension = extension; }
    void SetFilter(const std::string& filter) { m_filter = filter; }
    void SetDefaultPath(const std::string& path) { m_defaultPath = path; }

    // Opens the open-file dialog where ChooseBrowseStart says for the field's text and puts the
    // chosen file's full path into the field; a cancel leaves the text. The process's current
    // directory is the same afterwards.
    void OnBrowse();

    // The first file of a drop into the field's text; frees the drop.
    void OnDropFiles(HDROP drop);

    // The filter for OPENFILENAMEW: "description\0patterns\0...\0\0" (patterns joined by ';').
    static std::wstring NativeFilter(const std::string& filter);

private:
    static LRESULT CALLBACK EditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR id, DWORD_PTR self);

    HWND m_dialog = nullptr;
    HWND m_edit = nullptr;
    HWND m_browse = nullptr;
    std::string m_title;
    std::string m_filter = "All files (*.*)|*.*||";
    std::string m_defaultExtension;
    std::string m_defaultPath;
};

}  // namespace quillon
