// The settings store: defaults and what a hand-edited file may hold, the
// recent-file list, and what survives a trip through the INI file.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "IniReg.h"

namespace {

const std::wstring kDocuments =
    QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation).toStdWString();
// Not numbers, too large, odd bytes and a megabyte line: each value read alone.
const QByteArray kJunk = "[General]\nLeft=" + QByteArray(1 << 20, 'L') +
                         "\nTop=99999999999\nWidth=-2147483649\nHeight=12px\nMaximized=\n"
                         "FilterIndex=2, 3\nInitialDir=" +
                         QByteArray(260, 'd') +
                         "\nInputDeviceName=@Invalid()\n[Files]\nFile0=\xff\xfe[\x01\n"
                         "File1=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\xff)\n=\n[\n";

class SettingsTest : public ::testing::Test {
  protected:
    IniReg Store(int width = 1920, int height = 1080) { return {width, height, ini.toStdString()}; }
    std::wstring MakeFile(const QString& name) {
        QFile(dir.filePath(name)).open(QIODevice::WriteOnly);
        return dir.filePath(name).toStdWString();
    }
    void WriteIni(const QByteArray& text) {
        QFile file(ini);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) >= 0);
    }
    static std::vector<std::wstring> Recent(IniReg& store) {
        std::vector<std::wstring> list;
        for (int i = 0; store.GetRecent(i); ++i)
            list.emplace_back(store.GetRecent(i));
        return list;
    }

    QTemporaryDir dir;
    QString ini = dir.filePath("Level0.conf");
};

TEST_F(SettingsTest, DefaultsAndWhatAHandEditedFileMayHold) {
    auto at = [](int x, int y, int w, int h) {
        return QString::asprintf("Left=%d\nTop=%d\nWidth=%d\nHeight=%d\n", x, y, w, h).toUtf8();
    };
    const QByteArray away = at(3000, 100, 800, 500);
    struct Row {
        QByteArray ini = "";
        QRect window = {610, 340, 700, 400};  // the default placement
        QSize screen = {1920, 1080};
        std::vector<int> values = {0, 1, 50, 50};  // maximized, filter index, volumes
        QRect secondScreen = {};
    };
    const Row rows[] = {
        {},
        {.window = {0, 340, 640, 400}, .screen = {640, 1080}},  // shrunk to the screen
        {.window = {50, 0, 700, 300}, .screen = {800, 300}},
        {.window = {0, 0, 700, 400}, .screen = {0, 0}},  // no usable screen
        {.ini = at(5, 6, 900, 600) + "Maximized=1\nFilterIndex=2\nSpkVolPos=500\nMcVolPos=-7",
         .window = {5, 6, 900, 600},
         .values = {1, 2, 500, -7}},  // the presenter clamps the volumes
        // Out of sight, its monitor gone, in a corner or too large: the default
        // placement, keeping the size that fits.
        {.ini = away, .window = {560, 290, 800, 500}},
        {.ini = away, .window = {3000, 100, 800, 500}, .secondScreen = {1920, 0, 1280, 1024}},
        {.ini = at(-900, -600, 900, 600), .window = {510, 240, 900, 600}},
        {.ini = at(100, 1080, 2500, 500)},
        {.ini = at(1900, 1060, 800, 500), .window = {1900, 1060, 800, 500}},  // partly seen
        {.ini = kJunk},
        {.ini = "FilterIndex=-2147483648\nInitialDir=" + QByteArray(300, 'd')},
        {.ini = "FilterIndex=3"},
    };
    int file = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.ini.left(60).toStdString());
        ini = dir.filePath(QString::number(++file));  // a file of its own: no cached values
        WriteIni(row.ini.startsWith('[') ? row.ini : "[General]\n" + row.ini + "\n");
        IniReg store = Store(row.screen.width(), row.screen.height());
        if (!row.secondScreen.isEmpty())
            store.SetAvailableAreas({{0, 0, 1920, 1050}, row.secondScreen});
        store.Load();
        EXPECT_EQ(QRect(store.left, store.top, store.width, store.height), row.window);
        EXPECT_EQ(std::vector({store.maximized, store.filterIndex, store.GetSpkVolPos(),
                               store.GetMcVolPos()}),
                  row.values);
        EXPECT_EQ(std::wstring(store.initialDir.data()), kDocuments);
        EXPECT_EQ(store.GetInputDeviceName(), nullptr);
        EXPECT_TRUE(Recent(store).empty());
    }
}

TEST_F(SettingsTest, EveryValueSurvivesSaveAndAFreshLoadEvenOverJunk) {
    const std::wstring odd = MakeFile("a, b=c;d #e [x] \"q\" %1.mp3"),
                       unicode = MakeFile("Grüße 日本語 \U0001F600.wav"),
                       plain = MakeFile("plain.mp3");
    const std::wstring folder(259, L'f');  // the longest the dialog's buffer holds
    WriteIni(kJunk);
    IniReg store = Store(), loaded = Store(1280, 800);
    store.Load();
    std::tie(store.left, store.top, store.width, store.height, store.maximized, store.filterIndex) =
        std::tuple(-20, 35, 1024, 611, 1, 2);
    folder.copy(store.initialDir.data(), folder.size());
    store.SetSpkVolPos(0), store.SetMcVolPos(100);
    store.SetInputDeviceName(L"USB Mikrofon \u00e4 (Analog Stereo)"), store.SetInputPinName(L"In");
    for (const auto& file : {plain, unicode, odd})
        store.AddRecent(file.c_str());
    store.Save();
    loaded.Load();
    EXPECT_EQ(std::vector({loaded.left, loaded.top, loaded.width, loaded.height, loaded.maximized,
                           loaded.filterIndex, loaded.GetSpkVolPos(), loaded.GetMcVolPos()}),
              std::vector({-20, 35, 1024, 611, 1, 2, 0, 100}));
    EXPECT_EQ(std::wstring(loaded.initialDir.data()), folder);
    EXPECT_EQ(std::wstring(loaded.GetInputDeviceName()) + L"|" + loaded.GetInputPinName(),
              L"USB Mikrofon \u00e4 (Analog Stereo)|In");
    EXPECT_EQ(Recent(loaded), (std::vector{odd, unicode, plain}));

    // No device, an empty pin name (a name, unlike none) and a folder without its end.
    loaded.SetInputDeviceName(nullptr), loaded.SetInputPinName(L""), loaded.initialDir.fill(L'x');
    loaded.Save();
    QSettings stored(ini, QSettings::IniFormat);
    EXPECT_FALSE(stored.contains("InputDeviceName") || stored.contains("InitialDir"));
    store.Load();
    EXPECT_STREQ(store.GetInputPinName(), L"");
}

TEST_F(SettingsTest, TheRecentListHoldsTenExistingFilesMostRecentFirst) {
    std::vector<std::wstring> f;
    IniReg store = Store();
    for (int i = 0; i < 11; ++i)
        store.AddRecent(f.emplace_back(MakeFile(QStringLiteral("speech%1.mp3").arg(i))).c_str());
    store.AddRecent(f[3].c_str());  // a listed one moves to the top
    store.MoveRecentToTop(9);
    EXPECT_EQ(Recent(store),
              (std::vector{f[1], f[3], f[10], f[9], f[8], f[7], f[6], f[5], f[4], f[2]}));

    // Paths compare exactly; folders, missing files and no path are not added.
    const std::wstring upper = MakeFile("Speech1.mp3");
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.mp3"));
    for (const auto& path : {upper, dir.filePath("folder.mp3").toStdWString(),
                             dir.filePath("missing.mp3").toStdWString(), std::wstring()})
        store.AddRecent(path.c_str());
    store.AddRecent(nullptr);
    for (int i : {-1, 10, 1000})
        EXPECT_EQ((store.MoveRecentToTop(i), store.RemoveRecent(i), store.DuplicateRecent(i)),
                  nullptr);
    // An entry whose file vanished is dropped when asked for; a copy outlives the list.
    ASSERT_TRUE(QFile::remove(QString::fromStdWString(f[3])));
    EXPECT_EQ(store.GetRecent(2), nullptr);
    auto copy = store.DuplicateRecent(1);
    store.RemoveRecent(1);
    EXPECT_EQ(copy.get(), f[1]);
    EXPECT_EQ(Recent(store), (std::vector{upper, f[10], f[9], f[8], f[7], f[6], f[5], f[4]}));

    // The stored list skips what is gone, a folder and what is listed, and stops at a gap.
    QByteArray files = "[Files]\n";
    int n = 0;
    for (const auto& path :
         {f[0], dir.filePath("gone.mp3").toStdWString(), dir.filePath("folder.mp3").toStdWString(),
          f[1], f[1], f[2], std::wstring(), f[4]})
        files += QStringLiteral("File%1=%2\n").arg(n++).arg(QString::fromStdWString(path)).toUtf8();
    WriteIni(files.replace("File6=\n", ""));
    store.Load();
    EXPECT_EQ(Recent(store), (std::vector{f[0], f[1], f[2]}));

    // A shorter list leaves the old tail, which comes back after it, once.
    store.RemoveRecent(1), store.Save();
    Store().Save();  // an empty list leaves the group alone
    store.Load();
    EXPECT_EQ(Recent(store), (std::vector{f[0], f[2], f[1]}));
}

}  // namespace
