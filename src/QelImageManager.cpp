#include "QelImageManager.h"

#include <wx/filefn.h>

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
