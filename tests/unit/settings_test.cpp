// The settings store: defaults, the recent-file list, and what survives a trip
// through the INI file, including files edited by hand.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QRect>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <string>
#include <vector>

#include "IniReg.h"

namespace {

std::wstring Wide(const QString& text) {
    return text.toStdWString();
}

// The entries GetRecent reports, from the top, up to the first empty one.
std::vector<std::wstring> RecentList(IIniData& store) {
    std::vector<std::wstring> list;
    for (int i = 0; i < store.GetRecentCapacity(); ++i) {
        const wchar_t* path = store.GetRecent(i);
        if (path == nullptr)
            break;
        list.emplace_back(path);
    }
    return list;
}

std::wstring InitialDir(const IniReg& store) {
    return std::wstring(store.initialDir.data());
}

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString IniFile() const { return dir.filePath(QStringLiteral("Level0.conf")); }

    IniReg MakeStore(int screenWidth = 1920, int screenHeight = 1080) const {
        return IniReg(screenWidth, screenHeight, IniFile().toStdString());
    }

    // A real file in the test's folder; returns its absolute path.
    std::wstring MakeFile(const QString& name) const {
        const QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("ID3");
        return Wide(path);
    }

    std::vector<std::wstring> MakeFiles(int count) const {
        std::vector<std::wstring> paths;
        for (int i = 0; i < count; ++i) {
            paths.push_back(MakeFile(QStringLiteral("speech%1.mp3").arg(i)));
        }
        return paths;
    }

    void WriteIni(const QByteArray& text) const {
        QFile file(IniFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }

    // What the store file holds, read independently of IniReg.
    QVariant Stored(const QString& key) const {
        return QSettings(IniFile(), QSettings::IniFormat).value(key);
    }
    bool IsStored(const QString& key) const {
        return QSettings(IniFile(), QSettings::IniFormat).contains(key);
    }

    QTemporaryDir dir;
};

TEST_F(SettingsTest, DefaultsHoldWhenNothingIsStored) {
    IniReg store = MakeStore(1920, 1080);
    store.Load();

    EXPECT_FALSE(QFile::exists(IniFile())) << "loading must not create the store";
    EXPECT_EQ(store.left, (1920 - 700) / 2);
    EXPECT_EQ(store.top, (1080 - 400) / 2);
    EXPECT_EQ(store.width, 700);
    EXPECT_EQ(store.height, 400);
    EXPECT_EQ(store.maximized, 0);
    EXPECT_EQ(store.minWidth, 544);
    EXPECT_EQ(store.minHeight, 400);
    EXPECT_EQ(store.filterIndex, 1);
    EXPECT_EQ(store.GetSpkVolPos(), 50);
    EXPECT_EQ(store.GetMcVolPos(), 50);
    EXPECT_EQ(store.GetInputDeviceName(), nullptr);
    EXPECT_EQ(store.GetInputPinName(), nullptr);
    EXPECT_TRUE(RecentList(store).empty());
    EXPECT_EQ(InitialDir(store),
              Wide(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)));

    // The dialog reads the filter as NUL-separated pairs ended by an empty string.
    std::vector<std::wstring> parts;
    for (const wchar_t* part = store.Filter(); *part != L'\0'; part += std::wcslen(part) + 1) {
        parts.emplace_back(part);
    }
    EXPECT_EQ(parts, (std::vector<std::wstring>{L"Audio Files (*.mp3)", L"*.mp3",
                                                L"Wave Files (*.wav)", L"*.wav"}));
    EXPECT_EQ(store.filter.size(), 52u);
}

TEST_F(SettingsTest, DefaultWindowShrinksToASmallScreen) {
    const IniReg narrow = MakeStore(640, 1080);
    EXPECT_EQ(narrow.width, 640);
    EXPECT_EQ(narrow.left, 0);
    EXPECT_EQ(narrow.height, 400);
    EXPECT_EQ(narrow.top, 340);

    const IniReg low = MakeStore(800, 300);
    EXPECT_EQ(low.width, 700);
    EXPECT_EQ(low.left, 50);
    EXPECT_EQ(low.height, 300);
    EXPECT_EQ(low.top, 0);

    // No usable screen size: the default size at the origin rather than an empty window.
    const IniReg unknown = MakeStore(0, 0);
    EXPECT_EQ(unknown.width, 700);
    EXPECT_EQ(unknown.height, 400);
    EXPECT_EQ(unknown.left, 0);
    EXPECT_EQ(unknown.top, 0);
}

TEST_F(SettingsTest, AWindowStoredOutOfSightOpensAtTheDefaultPlacement) {
    struct Row {
        QRect stored, loaded;
        bool secondScreen;  // a second one, right of the 1920 x 1080 primary
    };
    for (const auto& [stored, loaded, secondScreen] : {
             Row{{3000, 100, 800, 500}, {560, 290, 800, 500}, false},  // its monitor has gone
             Row{{3000, 100, 800, 500}, {3000, 100, 800, 500}, true},
             Row{{-900, -600, 900, 600}, {510, 240, 900, 600}, false},    // touches a corner
             Row{{100, 1080, 2500, 500}, {610, 340, 700, 400}, false},    // too large to keep
             Row{{1900, 1060, 800, 500}, {1900, 1060, 800, 500}, false},  // partly seen
         }) {
        SCOPED_TRACE(stored.y());
        QSettings ini(IniFile(), QSettings::IniFormat);  // shares the store's cache
        for (const auto& [key, value] : {std::pair{"Left", stored.x()},
                                         {"Top", stored.y()},
                                         {"Width", stored.width()},
                                         {"Height", stored.height()}})
            ini.setValue(QLatin1String(key), value);
        IniReg store = MakeStore();
        if (secondScreen)
            store.SetAvailableAreas({{0, 0, 1920, 1050}, {1920, 0, 1280, 1024}});
        store.Load();
        EXPECT_EQ(QRect(store.left, store.top, store.width, store.height), loaded);
    }
}

TEST_F(SettingsTest, EveryValueSurvivesSaveAndAFreshLoad) {
    const std::wstring odd = MakeFile(QStringLiteral("a, b=c;d #e [x] \"q\" %1.mp3"));
    const std::wstring unicode = MakeFile(QStringLiteral("Grüße 日本語 \U0001F600.wav"));
    const std::wstring plain = MakeFile(QStringLiteral("plain.mp3"));
    const std::wstring folder(259, L'f');  // the longest folder the dialog's buffer holds
    {
        IniReg store = MakeStore();
        store.left = -20;
        store.top = 35;
        store.width = 1024;
        store.height = 611;
        store.maximized = 1;
        store.filterIndex = 2;
        folder.copy(store.initialDir.data(), folder.size());
        store.SetSpkVolPos(0);
        store.SetMcVolPos(100);
        EXPECT_EQ(store.SetInputDeviceName(L"USB Mikrofon \u00e4 (Analog Stereo)"), S_OK);
        EXPECT_EQ(store.SetInputPinName(L"Line In"), S_OK);
        store.AddRecent(plain.c_str());
        store.AddRecent(unicode.c_str());
        store.AddRecent(odd.c_str());
        store.Save();
    }

    IniReg loaded = MakeStore(1280, 800);
    loaded.Load();
    EXPECT_EQ(loaded.left, -20);
    EXPECT_EQ(loaded.top, 35);
    EXPECT_EQ(loaded.width, 1024);
    EXPECT_EQ(loaded.height, 611);
    EXPECT_EQ(loaded.maximized, 1);
    EXPECT_EQ(loaded.filterIndex, 2);
    EXPECT_EQ(InitialDir(loaded), folder);
    EXPECT_EQ(loaded.GetSpkVolPos(), 0);
    EXPECT_EQ(loaded.GetMcVolPos(), 100);
    ASSERT_NE(loaded.GetInputDeviceName(), nullptr);
    EXPECT_STREQ(loaded.GetInputDeviceName(), L"USB Mikrofon \u00e4 (Analog Stereo)");
    ASSERT_NE(loaded.GetInputPinName(), nullptr);
    EXPECT_STREQ(loaded.GetInputPinName(), L"Line In");
    EXPECT_EQ(RecentList(loaded), (std::vector<std::wstring>{odd, unicode, plain}));
}

TEST_F(SettingsTest, KeepsItsValuesUnderTheirStoredNames) {
    QTemporaryDir config;
    ASSERT_TRUE(config.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
    const std::wstring file = MakeFile(QStringLiteral("one.mp3"));

    IniReg store(1920, 1080);
    store.width = 812;
    store.SetSpkVolPos(33);
    store.SetInputPinName(L"Mic");
    store.AddRecent(file.c_str());
    store.Save();

    const QString path = config.filePath(QStringLiteral("Sayalike/Level0.conf"));
    ASSERT_TRUE(QFile::exists(path));
    QFile raw(path);
    ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
    const QByteArray text = raw.readAll();
    EXPECT_TRUE(text.contains("[General]")) << text.constData();
    EXPECT_TRUE(text.contains("[Files]")) << text.constData();

    QSettings stored(path, QSettings::IniFormat);
    for (const char* key : {"Left", "Top", "Width", "Height", "Maximized", "FilterIndex",
                            "SpkVolPos", "McVolPos", "InitialDir", "InputPinName"}) {
        EXPECT_TRUE(stored.contains(QLatin1String(key))) << key;
    }
    EXPECT_EQ(stored.value(QStringLiteral("Width")).toInt(), 812);
    EXPECT_EQ(stored.value(QStringLiteral("SpkVolPos")).toInt(), 33);
    EXPECT_FALSE(stored.contains(QStringLiteral("InputDeviceName")));
    EXPECT_EQ(stored.value(QStringLiteral("Files/File0")).toString().toStdWString(), file);

    IniReg loaded(640, 480);
    loaded.Load();
    EXPECT_EQ(loaded.width, 812);
}

TEST_F(SettingsTest, ClearedAndUnmeasurableValuesAreRemoved) {
    {
        IniReg store = MakeStore();
        store.SetInputDeviceName(L"Webcam");
        store.SetInputPinName(L"Mic");
        store.Save();
    }
    ASSERT_TRUE(IsStored(QStringLiteral("InputDeviceName")));
    ASSERT_TRUE(IsStored(QStringLiteral("InitialDir")));

    IniReg store = MakeStore();
    store.Load();
    EXPECT_EQ(store.SetInputDeviceName(nullptr), S_OK);
    EXPECT_EQ(store.GetInputDeviceName(), nullptr);
    store.SetInputPinName(L"");   // empty is a name, unlike null
    store.initialDir.fill(L'x');  // no NUL anywhere in the buffer
    store.Save();

    EXPECT_FALSE(IsStored(QStringLiteral("InputDeviceName")));
    EXPECT_FALSE(IsStored(QStringLiteral("InitialDir")));
    IniReg loaded = MakeStore();
    const std::wstring documents = InitialDir(loaded);
    loaded.Load();
    EXPECT_EQ(loaded.GetInputDeviceName(), nullptr);
    ASSERT_NE(loaded.GetInputPinName(), nullptr);
    EXPECT_STREQ(loaded.GetInputPinName(), L"");
    EXPECT_EQ(InitialDir(loaded), documents);
}

TEST_F(SettingsTest, AddingAListedFileMovesItToTheTopWithoutGrowing) {
    const auto files = MakeFiles(5);
    IniReg store = MakeStore();
    for (const auto& file : files)
        store.AddRecent(file.c_str());
    ASSERT_EQ(RecentList(store),
              (std::vector<std::wstring>{files[4], files[3], files[2], files[1], files[0]}));

    store.AddRecent(files[1].c_str());  // entry 3
    EXPECT_EQ(RecentList(store),
              (std::vector<std::wstring>{files[1], files[4], files[3], files[2], files[0]}));

    store.MoveRecentToTop(4);
    EXPECT_EQ(RecentList(store),
              (std::vector<std::wstring>{files[0], files[1], files[4], files[3], files[2]}));
}

TEST_F(SettingsTest, AnEleventhFileDropsTheOldest) {
    const auto files = MakeFiles(11);
    IniReg store = MakeStore();
    for (const auto& file : files)
        store.AddRecent(file.c_str());

    const auto list = RecentList(store);
    ASSERT_EQ(list.size(), 10u);
    EXPECT_EQ(list.front(), files[10]);
    EXPECT_EQ(list.back(), files[1]);
}

TEST_F(SettingsTest, PathsCompareExactlyAndOnlyExistingFilesAreAdded) {
    const std::wstring upper = MakeFile(QStringLiteral("Talk.mp3"));
    const std::wstring lower = MakeFile(QStringLiteral("talk.mp3"));
    IniReg store = MakeStore();
    store.AddRecent(upper.c_str());
    store.AddRecent(lower.c_str());
    store.AddRecent(lower.c_str());
    EXPECT_EQ(RecentList(store), (std::vector<std::wstring>{lower, upper}));

    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.mp3")));
    store.AddRecent(Wide(dir.filePath(QStringLiteral("folder.mp3"))).c_str());
    store.AddRecent(Wide(dir.filePath(QStringLiteral("missing.mp3"))).c_str());
    store.AddRecent(L"");
    store.AddRecent(nullptr);
    EXPECT_EQ(RecentList(store), (std::vector<std::wstring>{lower, upper}));
}

TEST_F(SettingsTest, AnEntryWhoseFileVanishedIsDroppedWhenAskedFor) {
    const auto files = MakeFiles(3);
    IniReg store = MakeStore();
    for (const auto& file : files)
        store.AddRecent(file.c_str());  // 2, 1, 0
    ASSERT_TRUE(QFile::remove(QString::fromStdWString(files[1])));

    EXPECT_EQ(store.GetRecent(1), nullptr);
    EXPECT_EQ(store.DuplicateRecent(0).get(), std::wstring(files[2]));
    EXPECT_EQ(RecentList(store), (std::vector<std::wstring>{files[2], files[0]}));

    // The copy belongs to the caller and outlives changes to the list.
    auto copy = store.DuplicateRecent(1);
    ASSERT_NE(copy, nullptr);
    store.RemoveRecent(1);
    EXPECT_EQ(std::wstring(copy.get()), files[0]);
    EXPECT_EQ(RecentList(store), (std::vector<std::wstring>{files[2]}));
}

TEST_F(SettingsTest, IndicesOutsideTheListAreIgnored) {
    const auto files = MakeFiles(2);
    IniReg store = MakeStore();
    for (const auto& file : files)
        store.AddRecent(file.c_str());
    for (int i : {-1, 2, 9, 10, 1000}) {
        store.MoveRecentToTop(i);
        store.RemoveRecent(i);
        EXPECT_EQ(store.GetRecent(i), nullptr) << i;
        EXPECT_EQ(store.DuplicateRecent(i), nullptr) << i;
    }
    EXPECT_EQ(RecentList(store), (std::vector<std::wstring>{files[1], files[0]}));
    EXPECT_EQ(store.GetRecentCapacity(), 10);
}

TEST_F(SettingsTest, LoadStopsAtTheFirstMissingValueAndSkipsVanishedFiles) {
    const auto files = MakeFiles(5);
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    const QString sub = dir.filePath(QStringLiteral("sub"));
    const QString gone = dir.filePath(QStringLiteral("deleted.mp3"));
    auto entry = [](int i, const std::wstring& path) {
        return QStringLiteral("File%1=%2\n").arg(i).arg(QString::fromStdWString(path)).toUtf8();
    };
    // Entry 1 was deleted and entry 2 is a folder: both are skipped and the rest
    // move up. File5 is missing, so File6 is never read.
    WriteIni("[Files]\n" + entry(0, files[0]) + entry(1, Wide(gone)) + entry(2, Wide(sub)) +
             entry(3, files[1]) + entry(4, files[2]) + entry(6, files[3]));

    IniReg store = MakeStore();
    store.Load();
    EXPECT_EQ(RecentList(store), (std::vector<std::wstring>{files[0], files[1], files[2]}));
}

TEST_F(SettingsTest, AMissingFilesGroupKeepsTheListAndAnEmptyListKeepsTheGroup) {
    const auto files = MakeFiles(2);
    WriteIni("[General]\nSpkVolPos=70\n");
    IniReg store = MakeStore();
    store.AddRecent(files[0].c_str());
    store.Load();
    EXPECT_EQ(store.GetSpkVolPos(), 70);
    EXPECT_EQ(RecentList(store), (std::vector<std::wstring>{files[0]}));

    WriteIni(QStringLiteral("[Files]\nFile0=%1\n").arg(QString::fromStdWString(files[1])).toUtf8());
    IniReg empty = MakeStore();
    empty.Save();
    EXPECT_EQ(Stored(QStringLiteral("Files/File0")).toString().toStdWString(), files[1]);
}

TEST_F(SettingsTest, SaveAfterTheListShrankLeavesTheOldTailWithoutDuplicatingIt) {
    const auto files = MakeFiles(4);
    {
        IniReg store = MakeStore();
        for (int i = 2; i >= 0; --i)
            store.AddRecent(files[i].c_str());  // 0, 1, 2
        store.Save();
    }
    ASSERT_TRUE(QFile::remove(QString::fromStdWString(files[1])));
    {
        IniReg store = MakeStore();
        store.Load();
        ASSERT_EQ(RecentList(store), (std::vector<std::wstring>{files[0], files[2]}));
        store.Save();
    }
    EXPECT_EQ(Stored(QStringLiteral("Files/File1")).toString().toStdWString(), files[2]);
    EXPECT_EQ(Stored(QStringLiteral("Files/File2")).toString().toStdWString(), files[2]);
    {
        IniReg store = MakeStore();
        store.Load();
        EXPECT_EQ(RecentList(store), (std::vector<std::wstring>{files[0], files[2]}));
    }

    // A shorter list written over a longer one: the old tail is read back after it.
    {
        IniReg store = MakeStore();
        store.AddRecent(files[3].c_str());
        store.Save();
    }
    IniReg store = MakeStore();
    store.Load();
    EXPECT_EQ(RecentList(store), (std::vector<std::wstring>{files[3], files[2]}));
}

TEST_F(SettingsTest, ValuesEditedByHandThatAreNotNumbersOrDoNotFitAreIgnored) {
    for (const auto& [length, filterIndex] :
         {std::pair<int, QByteArray>{260, "2, 3"}, {300, "-2147483648"}, {300, "3"}}) {
        SCOPED_TRACE(length);
        WriteIni(
            "[General]\n"
            "Left=abc\n"
            "Top=99999999999\n"
            "Width=-2147483649\n"
            "Height=12px\n"
            "Maximized=\n"
            "FilterIndex=" +
            filterIndex +
            "\n"
            "SpkVolPos=500\n"
            "McVolPos=-7\n"
            "InitialDir=" +
            QByteArray(length, 'd') +
            "\n"
            "InputDeviceName=@Invalid()\n"
            "InputPinName=Line In\n");
        IniReg store = MakeStore();
        // Values a failed read must leave alone, distinct from the defaults.
        store.left = 11;
        store.top = 12;
        store.width = 613;
        store.height = 414;
        store.maximized = 1;
        store.filterIndex = 2;
        store.SetInputDeviceName(L"before");
        const std::wstring folder = InitialDir(store);

        store.Load();
        EXPECT_EQ(store.left, 11);
        EXPECT_EQ(store.top, 12);
        EXPECT_EQ(store.width, 613);
        EXPECT_EQ(store.height, 414);
        EXPECT_EQ(store.maximized, 1);
        EXPECT_EQ(store.filterIndex, 2);
        EXPECT_EQ(store.GetSpkVolPos(), 500);  // no range is checked here
        EXPECT_EQ(store.GetMcVolPos(), -7);
        EXPECT_EQ(InitialDir(store), folder);
        EXPECT_EQ(store.GetInputDeviceName(), nullptr);
        ASSERT_NE(store.GetInputPinName(), nullptr);
        EXPECT_STREQ(store.GetInputPinName(), L"Line In");
    }
}

TEST_F(SettingsTest, JunkInTheFileNeitherCrashesNorBlocksTheNextSave) {
    QByteArray junk("[General]\nLeft=");
    junk += QByteArray(1 << 20, 'L');
    junk += "\n[Files]\nFile0=";
    for (int i = 0; i < 4096; ++i)
        junk += static_cast<char>((i * 37 + 11) % 256);
    junk += "\nFile1=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\xff)\n\xff\xfe[\x01\n=\n[\n";
    WriteIni(junk);

    const auto files = MakeFiles(1);
    IniReg store = MakeStore();
    store.Load();
    EXPECT_EQ(store.left, (1920 - 700) / 2);
    EXPECT_TRUE(RecentList(store).empty());

    store.left = 5;
    store.AddRecent(files[0].c_str());
    store.Save();
    IniReg loaded = MakeStore();
    loaded.Load();
    EXPECT_EQ(loaded.left, 5);
    EXPECT_EQ(RecentList(loaded), files);
}

}  // namespace
