// The image manager: which directory a picture is taken from, what happens to
// damaged and missing files, loading without a list, bundles of a picture
// with its double-size one, and the status pictures the windows use.
#include "QelImageManager.h"
#include "gui_test_support.h"

#include <gtest/gtest.h>

#include <wx/bmpbndl.h>
#include <wx/filefn.h>
#include <wx/filename.h>
#include <wx/image.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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

// ---- bundles: a picture with its double-size one -------------------------------

// The colour of a bundle's picture at `size`, at its top left pixel.
unsigned char redAt(const wxBitmapBundle& bundle, const wxSize& size) {
    return bundle.GetBitmap(size).ConvertToImage().GetRed(0, 0);
}

TEST(DoubleSizePath, TakesTheSuffixBeforeTheExtensionOfTheFileName) {
    EXPECT_EQ(wxT("pic@2x.png"), qelDoubleSizePath(wxT("pic.png")));
    EXPECT_EQ(wxT("res/pic@2x.png"), qelDoubleSizePath(wxT("res/pic.png")));
    EXPECT_EQ(wxT("/a/b.c/pic.tar@2x.png"), qelDoubleSizePath(wxT("/a/b.c/pic.tar.png")));
    EXPECT_EQ(wxT("/a/b.c/pic@2x"), qelDoubleSizePath(wxT("/a/b.c/pic")));
    EXPECT_EQ(wxT("res/.pic@2x"), qelDoubleSizePath(wxT("res/.pic")));
    EXPECT_EQ(wxT("pic@2x"), qelDoubleSizePath(wxT("pic")));
}

TEST_F(ImageManagerTest, ABundleHoldsBothSizesWhenTheDoubleSizePictureExists) {
    save(solid(3, 2, 200, 0, 0), m_res + wxT("pic.png"));
    save(solid(6, 4, 100, 0, 0), m_res + wxT("pic@2x.png"));
    QelImageManager manager(&m_list);

    WxLogCapture log;
    const wxBitmapBundle bundle = manager.loadBundle(wxT("pic.png"), wxBITMAP_TYPE_PNG);
    ASSERT_TRUE(bundle.IsOk());
    EXPECT_EQ(wxSize(3, 2), bundle.GetDefaultSize());
    EXPECT_EQ(wxSize(6, 4), bundle.GetPreferredBitmapSizeAtScale(2));
    EXPECT_EQ(200, redAt(bundle, wxSize(3, 2)));
    EXPECT_EQ(100, redAt(bundle, wxSize(6, 4))) << "the double-size picture, not an enlarged one";
    EXPECT_TRUE(log.messages().empty()) << log.all();
}

TEST_F(ImageManagerTest, WithoutADoubleSizePictureTheBundleEnlargesTheSingleOne) {
    save(solid(3, 2, 200, 0, 0), m_res + wxT("pic.png"));
    QelImageManager manager(&m_list);

    WxLogCapture log;
    const wxBitmapBundle bundle = manager.loadBundle(wxT("pic.png"), wxBITMAP_TYPE_PNG);
    ASSERT_TRUE(bundle.IsOk());
    EXPECT_EQ(wxSize(3, 2), bundle.GetDefaultSize());
    EXPECT_EQ(200, redAt(bundle, wxSize(6, 4)));
    EXPECT_TRUE(log.messages().empty())
        << "a missing double-size picture is no error: " << log.all();
}

TEST_F(ImageManagerTest, ABundleStaysEmptyWhenThePictureCannotBeLoaded) {
    QelImageManager manager(&m_list);
    {
        // Neither picture anywhere.
        WxLogCapture log;
        EXPECT_FALSE(manager.loadBundle(wxT("pic.png"), wxBITMAP_TYPE_PNG).IsOk());
        EXPECT_TRUE(log.messages().empty()) << log.all();
    }
    {
        // The double-size picture alone does not make a bundle.
        save(solid(6, 4, 100, 0, 0), m_res + wxT("pic@2x.png"));
        WxLogCapture log;
        EXPECT_FALSE(manager.loadBundle(wxT("pic.png"), wxBITMAP_TYPE_PNG).IsOk());
        EXPECT_TRUE(log.messages().empty()) << log.all();
    }
    {
        // A damaged picture is not made up for by its double-size one.
        saveDamaged(m_res + wxT("pic.png"));
        WxLogCapture log;
        EXPECT_FALSE(manager.loadBundle(wxT("pic.png"), wxBITMAP_TYPE_PNG).IsOk());
        EXPECT_TRUE(log.contains(corruptedPng)) << log.all();
    }
}

TEST_F(ImageManagerTest, ADamagedOrMisfitDoubleSizePictureIsLeftOut) {
    save(solid(3, 2, 200, 0, 0), m_exe + wxT("damaged.png"));
    saveDamaged(m_exe + wxT("damaged@2x.png"));
    save(solid(3, 2, 200, 0, 0), m_exe + wxT("misfit.png"));
    save(solid(5, 4, 100, 0, 0), m_exe + wxT("misfit@2x.png"));
    QelImageManager manager(&m_list);

    WxLogCapture log;
    const wxBitmapBundle damaged = manager.loadBundle(wxT("damaged.png"), wxBITMAP_TYPE_PNG);
    ASSERT_TRUE(damaged.IsOk());
    EXPECT_EQ(200, redAt(damaged, wxSize(6, 4)));
    EXPECT_TRUE(log.contains(corruptedPng)) << log.all() << "the loader reports the damage";

    const wxBitmapBundle misfit = manager.loadBundle(wxT("misfit.png"), wxBITMAP_TYPE_PNG);
    ASSERT_TRUE(misfit.IsOk());
    EXPECT_EQ(wxSize(3, 2), misfit.GetDefaultSize());
    EXPECT_EQ(200, redAt(misfit, wxSize(6, 4))) << "5x4 is not twice 3x2";
}

TEST_F(ImageManagerTest, TheDoubleSizePictureIsReadOnlyWhenASecondSizeIsAskedFor) {
    save(solid(3, 2, 200, 0, 0), m_res + wxT("pic.png"));
    saveDamaged(m_res + wxT("pic@2x.png"));
    QelImageManager manager(&m_list);

    WxLogCapture log;
    const wxBitmapBundle bundle = manager.loadBundle(wxT("pic.png"), wxBITMAP_TYPE_PNG);
    ASSERT_TRUE(bundle.IsOk());
    EXPECT_EQ(wxSize(3, 2), bundle.GetDefaultSize());
    EXPECT_EQ(wxSize(3, 2), bundle.GetPreferredBitmapSizeAtScale(1));
    EXPECT_EQ(200, redAt(bundle, wxSize(3, 2)));
    EXPECT_TRUE(log.messages().empty()) << "nothing at a scale of 1 reads it: " << log.all();

    EXPECT_EQ(wxSize(6, 4), bundle.GetPreferredBitmapSizeAtScale(2));
    EXPECT_TRUE(log.contains(corruptedPng)) << log.all();
    const size_t reported = log.messages().size();
    EXPECT_EQ(200, redAt(bundle, wxSize(6, 4)));
    EXPECT_EQ(reported, log.messages().size()) << "read once: " << log.all();
}

TEST_F(ImageManagerTest, APictureIsReadOnceUntilItsFileIsWrittenAgain) {
    save(solid(3, 2, 200, 0, 0), m_res + wxT("pic.png"));
    save(solid(6, 4, 100, 0, 0), m_res + wxT("pic@2x.png"));
    QelImageManager manager(&m_list);
    const wxBitmapBundle first = manager.loadBundle(wxT("pic.png"), wxBITMAP_TYPE_PNG);
    ASSERT_TRUE(first.IsOk());
    EXPECT_EQ(100, redAt(first, wxSize(6, 4)));

    // The same file by another path: the current directory's relative one.
    {
        CurrentDirectory inExe(m_exe);
        const wxBitmapBundle relative =
            qelLoadBitmapBundle(wxT("res/../res/pic.png"), wxBITMAP_TYPE_PNG);
        EXPECT_TRUE(relative.IsSameAs(first));
    }

    // Written anew, either file is read again. The file system's clock may
    // be coarser than two writes apart, so each write is dated a second on.
    const auto writtenLater = [](const wxString& path) {
        const fs::path file(path.utf8_string());
        fs::last_write_time(file, fs::last_write_time(file) + std::chrono::seconds(1));
    };
    save(solid(6, 4, 50, 0, 0), m_res + wxT("pic@2x.png"));
    writtenLater(m_res + wxT("pic@2x.png"));
    const wxBitmapBundle second = manager.loadBundle(wxT("pic.png"), wxBITMAP_TYPE_PNG);
    EXPECT_FALSE(second.IsSameAs(first));
    EXPECT_EQ(50, redAt(second, wxSize(6, 4)));
    save(solid(5, 3, 20, 0, 0), m_res + wxT("pic.png"));
    writtenLater(m_res + wxT("pic.png"));
    const wxBitmapBundle third = manager.loadBundle(wxT("pic.png"), wxBITMAP_TYPE_PNG);
    EXPECT_EQ(wxSize(5, 3), third.GetDefaultSize());
    EXPECT_EQ(20, redAt(third, wxSize(5, 3)));

    // A failed load is tried afresh, and the loader says why each time.
    saveDamaged(m_res + wxT("pic.png"));
    for (int attempt = 0; attempt < 2; ++attempt) {
        WxLogCapture log;
        EXPECT_FALSE(manager.loadBundle(wxT("pic.png"), wxBITMAP_TYPE_PNG).IsOk());
        EXPECT_TRUE(log.contains(corruptedPng)) << attempt << ": " << log.all();
    }
}

TEST_F(ImageManagerTest, TheDoubleSizePictureComesFromThePicturesOwnDirectory) {
    save(solid(3, 2, 200, 0, 0), m_exe + wxT("pic.png"));
    save(solid(6, 4, 100, 0, 0), m_res + wxT("pic@2x.png"));
    save(solid(6, 4, 150, 0, 0), m_exe + wxT("other@2x.png"));
    save(solid(3, 2, 50, 0, 0), m_res + wxT("other.png"));
    QelImageManager manager(&m_list);

    const wxBitmapBundle pic = manager.loadBundle(wxT("pic.png"), wxBITMAP_TYPE_PNG);
    ASSERT_TRUE(pic.IsOk());
    EXPECT_EQ(200, redAt(pic, wxSize(6, 4)));
    const wxBitmapBundle other = manager.loadBundle(wxT("other.png"), wxBITMAP_TYPE_PNG);
    ASSERT_TRUE(other.IsOk());
    EXPECT_EQ(50, redAt(other, wxSize(6, 4)));
}

TEST_F(ImageManagerTest, WithoutAListABundleIsLoadedFromTheCurrentDirectory) {
    save(solid(3, 2, 200, 0, 0), m_res + wxT("pic.png"));
    save(solid(6, 4, 100, 0, 0), m_res + wxT("pic@2x.png"));
    QelImageManager manager(nullptr);
    CurrentDirectory inRes(m_res);

    const wxBitmapBundle bundle = manager.loadBundle(wxT("pic.png"), wxBITMAP_TYPE_PNG);
    ASSERT_TRUE(bundle.IsOk());
    EXPECT_EQ(100, redAt(bundle, wxSize(6, 4)));

    WxLogCapture log;
    EXPECT_FALSE(manager.loadBundle(wxT("missing.png"), wxBITMAP_TYPE_PNG).IsOk());
    EXPECT_TRUE(log.mentions(wxT("missing.png"))) << log.all() << "the loader's own words";
}

// A manager is used through its operations, which a derived one may replace.
class CountingImageManager : public QelImageManager {
public:
    using QelImageManager::QelImageManager;
    bool loadBitmap(wxBitmap&, const wxString&, wxBitmapType) const override {
        ++calls;
        return true;
    }
    wxBitmapBundle loadBundle(const wxString&, wxBitmapType) const override {
        ++calls;
        return wxBitmapBundle::FromBitmap(wxBitmap(solid(2, 2, 1, 2, 3)));
    }
    mutable int calls = 0;
};

TEST_F(ImageManagerTest, OperationsAreReplaceable) {
    CountingImageManager counting(nullptr);
    const QelImageManager& manager = counting;
    wxBitmap bitmap;
    EXPECT_TRUE(manager.loadBitmap(bitmap, wxT("anything.png"), wxBITMAP_TYPE_PNG));
    EXPECT_EQ(1, counting.calls);
    EXPECT_TRUE(manager.loadBundle(wxT("anything.png"), wxBITMAP_TYPE_PNG).IsOk());
    EXPECT_EQ(2, counting.calls);
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

// Every picture of the panel comes with one made at twice its size, for
// screens with a scale of 2: exactly twice as wide and as high, transparent
// around it as well, and the same picture: halved again, it differs from the
// single-size one by little on average (the edges are drawn anew at each
// size). The application icon has its own sizes instead.
TEST(StatusPictures, EachPanelPictureHasADoubleSizeOneOfTheSameLook) {
    qelguitest::registerImageHandlers();
    const wxString res = qelguitest::binDir() + wxT("/res/");
    for (const Picture& picture : pictures) {
        const wxString name = wxString::FromUTF8(picture.name);
        if (name.StartsWith(wxT("qel_icon-"))) {
            EXPECT_FALSE(wxFileExists(res + name + wxT("@2x.png"))) << picture.name;
            continue;
        }
        SCOPED_TRACE(picture.name);
        const wxImage single(res + name + wxT(".png"), wxBITMAP_TYPE_PNG);
        const wxImage twice(res + name + wxT("@2x.png"), wxBITMAP_TYPE_PNG);
        ASSERT_TRUE(single.IsOk());
        ASSERT_TRUE(twice.IsOk());
        EXPECT_EQ(wxSize(2 * picture.width, 2 * picture.height), twice.GetSize());
        ASSERT_TRUE(twice.HasAlpha());
        EXPECT_LT(twice.GetAlpha(0, 0), 32);
        EXPECT_LT(twice.GetAlpha(twice.GetWidth() - 1, twice.GetHeight() - 1), 32);

        const wxImage halved =
            twice.Scale(picture.width, picture.height, wxIMAGE_QUALITY_BOX_AVERAGE);
        double difference = 0;
        for (int y = 0; y < picture.height; ++y) {
            for (int x = 0; x < picture.width; ++x) {
                // Colour weighted by coverage, so that a transparent pixel's
                // colour counts for nothing.
                const int a = single.GetAlpha(x, y);
                const int b = halved.GetAlpha(x, y);
                difference +=
                    std::abs(single.GetRed(x, y) * a - halved.GetRed(x, y) * b) / 255.0 +
                    std::abs(single.GetGreen(x, y) * a - halved.GetGreen(x, y) * b) / 255.0 +
                    std::abs(single.GetBlue(x, y) * a - halved.GetBlue(x, y) * b) / 255.0 +
                    std::abs(a - b);
            }
        }
        const double mean = difference / (4.0 * picture.width * picture.height);
        std::printf("measured: %s: mean difference of the halved double-size picture %.2f\n",
                    picture.name, mean);
        EXPECT_LT(mean, 3.0);
    }
}

} // namespace
