#include "QelImageManager.h"

#include <wx/filefn.h>
#include <wx/log.h>
#include <wx/module.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <tuple>

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

namespace {

// The picture and its double-size one as one bundle that reads the
// double-size file only when a window first asks for anything but the
// picture's own size. A screen at a scale of 1 never pays for decoding
// pictures it does not draw; at any other scale the answer is the one a
// bundle of both pictures would give, as the double-size file is read once,
// when first needed.
class LazyDoubleSizeBundle : public wxBitmapBundleImpl {
public:
    LazyDoubleSizeBundle(const wxBitmap& single, const wxString& doublePath, wxBitmapType type)
        : m_single(single), m_doublePath(doublePath), m_type(type) {}

    wxSize GetDefaultSize() const override { return m_single.GetSize(); }

    wxSize GetPreferredBitmapSizeAtScale(double scale) const override {
        if (scale == 1.0) {
            return m_single.GetSize();
        }
        return both().GetPreferredBitmapSizeAtScale(scale);
    }

    wxBitmap GetBitmap(const wxSize& size) override {
        if (size == m_single.GetSize() || size == wxDefaultSize) {
            return m_single;
        }
        return both().GetBitmap(size);
    }

private:
    // The bundle of both pictures, made on first use. A missing double-size
    // picture is no error and logs nothing; one that cannot be loaded (the
    // loader says why) or is not exactly twice as wide and as high is left
    // out, and the bundle enlarges the picture alone.
    const wxBitmapBundle& both() const {
        if (m_both.IsOk()) {
            return m_both;
        }
        wxBitmap twice;
        if (!wxFileExists(m_doublePath) || !twice.LoadFile(m_doublePath, m_type)) {
            m_both = wxBitmapBundle::FromBitmap(m_single);
        } else if (twice.GetSize() != m_single.GetSize() * 2) {
            // Mixed with the picture as if it were twice its size, it would
            // be drawn distorted; the enlarged single picture is the lesser
            // harm.
            wxLogDebug(wxT("%s is %dx%d, not twice %dx%d: left out"), m_doublePath,
                       twice.GetWidth(), twice.GetHeight(), m_single.GetWidth(),
                       m_single.GetHeight());
            m_both = wxBitmapBundle::FromBitmap(m_single);
        } else {
            m_both = wxBitmapBundle::FromBitmaps(m_single, twice);
        }
        return m_both;
    }

    wxBitmap m_single;
    wxString m_doublePath;
    wxBitmapType m_type;
    mutable wxBitmapBundle m_both; // empty until first needed
};

namespace fs = std::filesystem;

// What tells one version of a picture file from another: where it is (after
// following links and dots, so that "res/a.png" and "/opt/q/res/a.png" are
// one file when they are), when it was last written and how long it is.
// Absent files have an empty path.
struct FileVersion {
    std::string path;
    fs::file_time_type written{};
    std::uintmax_t size = 0;

    bool operator<(const FileVersion& other) const {
        return std::tie(path, written, size) < std::tie(other.path, other.written, other.size);
    }
};

FileVersion versionOf(const wxString& path) {
    FileVersion version;
    std::error_code error;
    const fs::path file = fs::path(path.utf8_string());
    const fs::path canonical = fs::weakly_canonical(file, error);
    if (error || !fs::is_regular_file(canonical, error)) {
        return version;
    }
    version.written = fs::last_write_time(canonical, error);
    if (error) {
        return version;
    }
    version.size = fs::file_size(canonical, error);
    if (error) {
        return version;
    }
    version.path = canonical.string();
    return version;
}

struct PictureKey {
    FileVersion single;
    FileVersion twice;
    wxBitmapType type;

    bool operator<(const PictureKey& other) const {
        return std::tie(single, twice, type) < std::tie(other.single, other.twice, other.type);
    }
};

// Every picture loaded so far, for the windows that show the same picture
// more than once (the logo on two pages, the status pictures of two
// panels). A file written anew is a new key and so is read again; a failed
// load is never kept, so that the loader reports it every time.
std::map<PictureKey, wxBitmapBundle>& loadedPictures() {
    static std::map<PictureKey, wxBitmapBundle> pictures;
    return pictures;
}

// Lets the pictures go with the toolkit, before its drawing layer is shut
// down, rather than with the program's static objects after it.
class PictureCacheModule : public wxModule {
public:
    bool OnInit() override { return true; }
    void OnExit() override { loadedPictures().clear(); }

private:
    wxDECLARE_DYNAMIC_CLASS(PictureCacheModule);
};

wxIMPLEMENT_DYNAMIC_CLASS(PictureCacheModule, wxModule);

} // namespace

wxBitmapBundle qelLoadBitmapBundle(const wxString& path, wxBitmapType type) {
    const wxString doublePath = qelDoubleSizePath(path);
    PictureKey key{versionOf(path), versionOf(doublePath), type};
    const bool cacheable = !key.single.path.empty();
    if (cacheable) {
        const auto found = loadedPictures().find(key);
        if (found != loadedPictures().end()) {
            return found->second;
        }
    }
    wxBitmap single;
    if (!single.LoadFile(path, type)) {
        return wxBitmapBundle();
    }
    const wxBitmapBundle bundle =
        wxBitmapBundle::FromImpl(new LazyDoubleSizeBundle(single, doublePath, type));
    if (cacheable) {
        loadedPictures().emplace(std::move(key), bundle);
    }
    return bundle;
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
