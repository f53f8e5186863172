// Finds picture files by bare file name in an ordered list of directories and
// loads them into bitmaps or icons.
#pragma once

#include <wx/arrstr.h>
#include <wx/bitmap.h>
#include <wx/icon.h>
#include <wx/string.h>

#include <memory>

class QelImageManager {
public:
    // Copies the list of directories, in its order; each entry is used as a
    // prefix, so it ends with a path separator. Without a list (nullptr)
    // pictures are loaded by bare name from the current directory.
    explicit QelImageManager(const wxArrayString* paths);
    virtual ~QelImageManager();

    QelImageManager(const QelImageManager&) = delete;
    QelImageManager& operator=(const QelImageManager&) = delete;

    // Loads the file called name into bitmap with the given type. The first
    // directory holding a file of that name decides, even when loading it
    // fails there. True when a file was found and loaded; when no directory
    // holds the file, bitmap is left as it was.
    virtual bool loadBitmap(wxBitmap& bitmap, const wxString& name, wxBitmapType type) const;

    // The same for an icon, loaded at its natural size.
    virtual bool loadIcon(wxIcon& icon, const wxString& name, wxBitmapType type) const;

private:
    // The path of the first directory holding name, or empty when none does.
    wxString find(const wxString& name) const;

    std::unique_ptr<wxArrayString> m_paths; // absent without a list
};
