// The image manager: which directory a picture is taken from, what happens to
// damaged and missing files, loading without a list, and the status pictures
// the windows use.
#include "QelImageManager.h"
#include "gui_test_support.h"

#include <gtest/gtest.h>

#include <wx/filefn.h>
#include <wx/filename.h>
#include <wx/image.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <type_traits>
#include <unistd.h>

using qelguitest::CurrentDirectory;
using qelguitest::WxLogCapture;

namespace {

static_assert(std::has_virtual_destructor_v<QelImageManager>);

namespace fs = std::filesystem;

const char corruptedPng[] = "Couldn't load a PNG image - file is corrupted or not enough memory.";

// A plain picture of one colour, distinguishable by its size.
wxImage solid(int width, int height, unsigned char red, unsigned char green, unsigned char blue) {
    wxImage image(width, height);
    image.SetRGB(wxRect(0, 0, width, height), red, green, blue);
    return image;
}

class ImageManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        qelguitest::registerImageHandlers();
        static std::atomic<int> serial{0};
        m_root = fs::temp_directory_path() /
                 ("qel-image-manager-" + std::to_string(getpid()) + "-" + std::to_string(serial++));
        fs::create_directories(m_root / "exe" / "res");
        m_exe = wxString::FromUTF8((m_root / "exe").string()) + wxFILE_SEP_PATH;
        m_res = m_exe + wxT("res") + wxFILE_SEP_PATH;
        m_list.Add(m_exe);
        m_list.Add(m_res);
    }

    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }

    static void save(const wxImage& image, const wxString& path) {
        ASSERT_TRUE(image.SaveFile(path, wxBITMAP_TYPE_PNG)) << path;
    }

    // A file that starts as a PNG file and breaks off inside its data.
    static void saveDamaged(const wxString& path) {
        const wxString whole = path + wxT(".whole");
        save(solid(16, 16, 10, 20, 30), whole);
        std::ifstream in(whole.utf8_string(), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_GT(bytes.size(), 60u);
        std::ofstream out(path.utf8_string(), std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), 60);
        ASSERT_TRUE(out.good());
        wxRemoveFile(whole);
    }

    fs::path m_root;
    wxString m_exe;
    wxString m_res;
    wxArrayString m_list;
};

TEST_F(ImageManagerTest, AFileInBothDirectoriesIsTakenFromTheFirst) {
    save(solid(3, 2, 255, 0, 0), m_exe + wxT("pic.png"));
    save(solid(5, 4, 0, 0, 255), m_res + wxT("pic.png"));
    QelImageManager manager(&m_list);

    wxBitmap bitmap;
    EXPECT_TRUE(manager.loadBitmap(bitmap, wxT("pic.png"), wxBITMAP_TYPE_PNG));
    ASSERT_TRUE(bitmap.IsOk());
    EXPECT_EQ(wxSize(3, 2), bitmap.GetSize());
    EXPECT_EQ(255, bitmap.ConvertToImage().GetRed(0, 0));
}

TEST_F(ImageManagerTest, AFileOnlyInTheSecondDirectoryIsTakenFromThere) {
    save(solid(5, 4, 0, 0, 255), m_res + wxT("pic.png"));
    QelImageManager manager(&m_list);

    wxBitmap bitmap;
    EXPECT_TRUE(manager.loadBitmap(bitmap, wxT("pic.png"), wxBITMAP_TYPE_PNG));
    EXPECT_EQ(wxSize(5, 4), bitmap.GetSize());
}

TEST_F(ImageManagerTest, ADamagedFileInTheFirstDirectoryIsNotRetriedFromTheSecond) {
    saveDamaged(m_exe + wxT("pic.png"));
    save(solid(5, 4, 0, 0, 255), m_res + wxT("pic.png"));
    QelImageManager manager(&m_list);

    WxLogCapture log;
    wxBitmap bitmap;
    EXPECT_FALSE(manager.loadBitmap(bitmap, wxT("pic.png"), wxBITMAP_TYPE_PNG));
    EXPECT_FALSE(bitmap.IsOk());
    EXPECT_TRUE(log.contains(corruptedPng))
        << log.all() << "the toolkit's loader reports the damage";
}

TEST_F(ImageManagerTest, AFileMissingEverywhereLeavesTheBitmapUnchangedAndLogsNothing) {
    save(solid(5, 4, 0, 0, 255), m_res + wxT("other.png"));
    QelImageManager manager(&m_list);

    wxBitmap bitmap(solid(7, 7, 1, 2, 3));
    WxLogCapture log;
    EXPECT_FALSE(manager.loadBitmap(bitmap, wxT("pic.png"), wxBITMAP_TYPE_PNG));
    ASSERT_TRUE(bitmap.IsOk());
    EXPECT_EQ(wxSize(7, 7), bitmap.GetSize());
    EXPECT_EQ(2, bitmap.ConvertToImage().GetGreen(3, 3));
    EXPECT_TRUE(log.messages().empty()) << log.all();
}

TEST_F(ImageManagerTest, ADirectoryOfTheSearchedNameIsNoFile) {
    fs::create_directories(m_root / "exe" / "pic.png");
    save(solid(5, 4, 0, 0, 255), m_res + wxT("pic.png"));
    QelImageManager manager(&m_list);

    wxBitmap bitmap;
    EXPECT_TRUE(manager.loadBitmap(bitmap, wxT("pic.png"), wxBITMAP_TYPE_PNG));
    EXPECT_EQ(wxSize(5, 4), bitmap.GetSize());
}

TEST_F(ImageManagerTest, WithoutAListTheBareNameIsLoadedFromTheCurrentDirectory) {
    save(solid(3, 2, 255, 0, 0), m_exe + wxT("pic.png"));
    save(solid(5, 4, 0, 0, 255), m_res + wxT("pic.png"));
    QelImageManager manager(nullptr);
    CurrentDirectory inRes(m_res);

    wxBitmap bitmap;
    EXPECT_TRUE(manager.loadBitmap(bitmap, wxT("pic.png"), wxBITMAP_TYPE_PNG));
    EXPECT_EQ(wxSize(5, 4), bitmap.GetSize());
}

TEST_F(ImageManagerTest, AnEmptyListLoadsTheBareNameAsWell) {
    save(solid(3, 2, 255, 0, 0), m_exe + wxT("pic.png"));
    const wxArrayString none;
    QelImageManager manager(&none);
    CurrentDirectory inExe(m_exe);

    wxBitmap bitmap;
    EXPECT_TRUE(manager.loadBitmap(bitmap, wxT("pic.png"), wxBITMAP_TYPE_PNG));
    EXPECT_EQ(wxSize(3, 2), bitmap.GetSize());
}

TEST_F(ImageManagerTest, WithoutAListAMissingFileIsLeftToTheLoader) {
    QelImageManager manager(nullptr);
    CurrentDirectory inExe(m_exe);

    WxLogCapture log;
    wxBitmap bitmap;
    EXPECT_FALSE(manager.loadBitmap(bitmap, wxT("pic.png"), wxBITMAP_TYPE_PNG));
    EXPECT_FALSE(bitmap.IsOk());
    // The loader's own words for a missing file.
    EXPECT_TRUE(log.mentions(wxT("pic.png"))) << log.all();
}

TEST_F(ImageManagerTest, TheListIsCopied) {
    save(solid(3, 2, 255, 0, 0), m_exe + wxT("pic.png"));
    wxArrayString list;
    list.Add(m_exe);
    QelImageManager manager(&list);
    list[0] = m_res;
    list.Add(m_res);

    wxBitmap bitmap;
    EXPECT_TRUE(manager.loadBitmap(bitmap, wxT("pic.png"), wxBITMAP_TYPE_PNG));
    EXPECT_EQ(wxSize(3, 2), bitmap.GetSize());
}

TEST_F(ImageManagerTest, DirectoryAndNameAreJoinedAsTheyAre) {
    save(solid(3, 2, 255, 0, 0), m_exe + wxT("status-pic.png"));
    wxArrayString list;
    list.Add(m_exe + wxT("status-"));
    QelImageManager manager(&list);

    wxBitmap bitmap;
    EXPECT_TRUE(manager.loadBitmap(bitmap, wxT("pic.png"), wxBITMAP_TYPE_PNG));
    EXPECT_EQ(wxSize(3, 2), bitmap.GetSize());
}

TEST_F(ImageManagerTest, EveryCallSearchesAgain) {
    save(solid(3, 2, 255, 0, 0), m_res + wxT("pic.png"));
    QelImageManager manager(&m_list);

    wxBitmap first;
    EXPECT_TRUE(manager.loadBitmap(first, wxT("pic.png"), wxBITMAP_TYPE_PNG));
    EXPECT_EQ(wxSize(3, 2), first.GetSize());

    save(solid(6, 1, 0, 255, 0), m_exe + wxT("pic.png"));
    wxBitmap second;
    EXPECT_TRUE(manager.loadBitmap(second, wxT("pic.png"), wxBITMAP_TYPE_PNG));
    EXPECT_EQ(wxSize(6, 1), second.GetSize());
}

TEST_F(ImageManagerTest, IconsFollowTheSameSearch) {
    save(solid(3, 2, 255, 0, 0), m_exe + wxT("icon.png"));
    save(solid(5, 4, 0, 0, 255), m_res + wxT("icon.png"));
    saveDamaged(m_exe + wxT("broken.png"));
    save(solid(5, 4, 0, 0, 255), m_res + wxT("broken.png"));
    QelImageManager manager(&m_list);

    wxIcon icon;
    EXPECT_TRUE(manager.loadIcon(icon, wxT("icon.png"), wxBITMAP_TYPE_PNG));
    EXPECT_EQ(3, icon.GetWidth());
    EXPECT_EQ(2, icon.GetHeight());

    WxLogCapture log;
    wxIcon broken;
    EXPECT_FALSE(manager.loadIcon(broken, wxT("broken.png"), wxBITMAP_TYPE_PNG));
    EXPECT_TRUE(log.contains(corruptedPng)) << log.all();

    wxIcon missing;
    EXPECT_FALSE(manager.loadIcon(missing, wxT("missing.png"), wxBITMAP_TYPE_PNG));
    EXPECT_FALSE(missing.IsOk());
}

TEST_F(ImageManagerTest, IconsWithoutAListComeFromTheCurrentDirectory) {
    save(solid(5, 4, 0, 0, 255), m_res + wxT("icon.png"));
    QelImageManager manager(nullptr);
    CurrentDirectory inRes(m_res);

    wxIcon icon;
    EXPECT_TRUE(manager.loadIcon(icon, wxT("icon.png"), wxBITMAP_TYPE_PNG));
    EXPECT_EQ(5, icon.GetWidth());
}

// A manager is used through its operations, which a derived one may replace.
class CountingImageManager : public QelImageManager {
public:
    using QelImageManager::QelImageManager;
    bool loadBitmap(wxBitmap&, const wxString&, wxBitmapType) const override {
        ++calls;
        return true;
    }
    mutable int calls = 0;
};

TEST_F(ImageManagerTest, OperationsAreReplaceable) {
    CountingImageManager counting(nullptr);
    const QelImageManager& manager = counting;
    wxBitmap bitmap;
    EXPECT_TRUE(manager.loadBitmap(bitmap, wxT("anything.png"), wxBITMAP_TYPE_PNG));
    EXPECT_EQ(1, counting.calls);
}

// The pictures the application finds through its search list: the program's
// directory, then its res subdirectory, which holds them all.
struct Picture {
    const char* name;
    int width;
    int height;
};

const Picture pictures[] = {
    {"dpi90-power-grey", 64, 64},
    {"dpi90-power-grey-pressed", 64, 64},
    {"dpi90-power-green", 64, 64},
    {"dpi90-power-green-pressed", 64, 64},
    {"dpi90-power-amber", 64, 64},
    {"dpi90-ethernet-nc", 48, 48},
    {"dpi90-ethernet-100m-badness", 48, 48},
    {"dpi90-ethernet-1g-badness", 48, 48},
    {"dpi90-ethernet-100m", 48, 48},
    {"dpi90-ethernet-1g", 48, 48},
    {"dpi90-word-ostrane", 220, 40},
    {"help_circle_blue_v2", 24, 24},
    {"qel_icon-256", 256, 256},
    {"qel_icon-48", 48, 48},
    {"qel_icon-32", 32, 32},
    {"qel_icon-24", 24, 24},
    {"qel_icon-16", 16, 16},
};

TEST(StatusPictures, EachLoadsFromTheProgramsPicturesAtItsSize) {
    qelguitest::registerImageHandlers();
    const wxString dir = qelguitest::binDir();
    wxArrayString list;
    list.Add(dir + wxFILE_SEP_PATH);
    list.Add(dir + wxFILE_SEP_PATH + wxT("res") + wxFILE_SEP_PATH);
    QelImageManager manager(&list);

    for (const Picture& picture : pictures) {
        SCOPED_TRACE(picture.name);
        const wxString name = wxString::FromUTF8(picture.name) + wxT(".png");
        WxLogCapture log;
        wxBitmap bitmap;
        ASSERT_TRUE(manager.loadBitmap(bitmap, name, wxBITMAP_TYPE_PNG));
        EXPECT_EQ(wxSize(picture.width, picture.height), bitmap.GetSize());

        // Transparent around the picture, so it sits on any background.
        const wxImage image = bitmap.ConvertToImage();
        ASSERT_TRUE(image.HasAlpha());
        EXPECT_LT(image.GetAlpha(0, 0), 32);
        EXPECT_LT(image.GetAlpha(image.GetWidth() - 1, image.GetHeight() - 1), 32);
        EXPECT_TRUE(log.messages().empty()) << log.all();
    }
}

TEST(StatusPictures, TheApplicationIconLoadsAtEachOfItsSizes) {
    qelguitest::registerImageHandlers();
    wxArrayString list;
    list.Add(qelguitest::binDir() + wxT("/res/"));
    QelImageManager manager(&list);
    for (int size : {256, 48, 32, 24, 16}) {
        wxIcon icon;
        ASSERT_TRUE(manager.loadIcon(icon, wxString::Format(wxT("qel_icon-%d.png"), size),
                                     wxBITMAP_TYPE_PNG))
            << size;
        EXPECT_EQ(size, icon.GetWidth());
        EXPECT_EQ(size, icon.GetHeight());
    }
}

// The pictures of one kind differ from each other: each state shows its own.
TEST(StatusPictures, EveryStatusLooksDifferent) {
    qelguitest::registerImageHandlers();
    const char* const names[] = {
        "dpi90-power-grey",          "dpi90-power-grey-pressed", "dpi90-power-green",
        "dpi90-power-green-pressed", "dpi90-power-amber",        "dpi90-ethernet-nc",
        "dpi90-ethernet-100m",       "dpi90-ethernet-1g",        "dpi90-ethernet-100m-badness",
        "dpi90-ethernet-1g-badness"};
    std::vector<wxImage> images;
    for (const char* name : names) {
        wxImage image(qelguitest::binDir() + wxT("/res/") + wxString::FromUTF8(name) + wxT(".png"),
                      wxBITMAP_TYPE_PNG);
        ASSERT_TRUE(image.IsOk()) << name;
        images.push_back(image);
    }
    for (size_t a = 0; a < images.size(); ++a) {
        for (size_t b = a + 1; b < images.size(); ++b) {
            if (images[a].GetSize() != images[b].GetSize()) {
                continue;
            }
            EXPECT_FALSE(qelguitest::sameOpaquePixels(images[a], images[b]) &&
                         qelguitest::sameOpaquePixels(images[b], images[a]))
                << names[a] << " looks like " << names[b];
        }
    }
}

} // namespace
