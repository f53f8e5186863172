#include "QelImageManager.h"

#include <wx/filefn.h>
#include <wx/log.h>

wxString qelDoubleSizePath(const wxString& path) {
    const size_t slash = path.find_last_of(wxT("/\\"));
    const size_t dot = path.find_last_of(wxT('.'));
    // A dot before the last separator belongs to a directory's name; one at
    // the start of the file name makes a hidden file, not an extension.
    const size_t nameStart = slash == wxString::npos ? 0 : slash + 1;
    if (dot == wxString::npos || dot <= nameStart) {
        return path + wxT("@2x");
    }
    return path.Left(dot) + wxT("@2x") + path.Mid(dot);
}

wxBitmapBundle qelLoadBitmapBundle(const wxString& path, wxBitmapType type) {
    wxBitmap single;
    if (!single.LoadFile(path, type)) {
        return wxBitmapBundle();
    }
    const wxString doublePath = qelDoubleSizePath(path);
    wxBitmap twice;
    if (!wxFileExists(doublePath) || !twice.LoadFile(doublePath, type)) {
        return wxBitmapBundle::FromBitmap(single);
    }
    if (twice.GetSize() != single.GetSize() * 2) {
        // Mixed with the picture as if it were twice its size, it would be
        // drawn distorted; the enlarged single picture is the lesser harm.
        wxLogDebug(wxT("%s is %dx%d, not twice %dx%d: left out"), doublePath, twice.GetWidth(),
                   twice.GetHeight(), single.GetWidth(), single.GetHeight());
        return wxBitmapBundle::FromBitmap(single);
    }
    return wxBitmapBundle::FromBitmaps(single, twice);
}

QelImageManager::QelImageManager(const wxArrayString* paths) {
    if (paths != nullptr) {
        m_paths = std::make_unique<wxArrayString>(*paths);
    }
}

QelImageManager::~QelImageManager() = default;

wxString QelImageManager::find(const wxString& name) const {
    for (const wxString& directory : *m_paths) {
        // Plain concatenation: every directory text ends with its separator.
        const wxString path = directory + name;
        if (wxFileExists(path)) {
            return path;
        }
    }
    return wxString();
}

bool QelImageManager::loadBitmap(wxBitmap& bitmap, const wxString& name, wxBitmapType type) const {
    if (!m_paths || m_paths->empty()) {
        return bitmap.LoadFile(name, type);
    }
    const wxString path = find(name);
    if (path.empty()) {
        return false;
    }
    return bitmap.LoadFile(path, type);
}

bool QelImageManager::loadIcon(wxIcon& icon, const wxString& name, wxBitmapType type) const {
    if (!m_paths || m_paths->empty()) {
        return icon.LoadFile(name, type, -1, -1);
    }
    const wxString path = find(name);
    if (path.empty()) {
        return false;
    }
    return icon.LoadFile(path, type, -1, -1);
}

wxBitmapBundle QelImageManager::loadBundle(const wxString& name, wxBitmapType type) const {
    if (!m_paths || m_paths->empty()) {
        return qelLoadBitmapBundle(name, type);
    }
    const wxString path = find(name);
    if (path.empty()) {
        return wxBitmapBundle();
    }
    return qelLoadBitmapBundle(path, type);
}
