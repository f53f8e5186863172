// Finds picture files by bare file name in an ordered list of directories and
// loads them into bitmaps, icons or bundles of a picture at two sizes.
#pragma once

#include <wx/arrstr.h>
#include <wx/bitmap.h>
#include <wx/bmpbndl.h>
#include <wx/icon.h>
#include <wx/string.h>

#include <memory>

// The path of the picture drawn at twice the size of the one at `path`, for
// screens with a scale of 2: "@2x" before the extension of the file name
// ("res/logo.png" gives "res/logo@2x.png"), or after a name without one.
wxString qelDoubleSizePath(const wxString& path);

// The picture at `path` together with the one at qelDoubleSizePath(path), as
// one bundle that the windows draw sharp at a scale of 1 and of 2. The
// picture at `path` is loaded as wxBitmap::LoadFile does, its failure logged
// by the toolkit's loader; without it the bundle is empty. The double-size
// picture is read when a window first asks for a size other than the
// picture's own (a screen at a scale of 1 never does); a missing one is no
// error and logs nothing; one that cannot be loaded (the loader says why) or
// is not exactly twice as wide and as high is left out, and the bundle then
// enlarges the picture alone. A picture loaded before is handed out again
// as long as neither file has been written since, so a window showing the
// same picture twice reads it once; a failed load is tried afresh each time.
wxBitmapBundle qelLoadBitmapBundle(const wxString& path, wxBitmapType type);

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

    // The picture called name, found as loadBitmap finds it, bundled with
    // its double-size picture from the same directory (see
    // qelLoadBitmapBundle). Empty when no directory holds the file or it
    // cannot be loaded.
    virtual wxBitmapBundle loadBundle(const wxString& name, wxBitmapType type) const;

private:
    // The path of the first directory holding name, or empty when none does.
    wxString find(const wxString& name) const;

    std::unique_ptr<wxArrayString> m_paths; // absent without a list
};
