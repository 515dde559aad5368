#include "IniReg.h"

#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <limits>

using namespace std::string_literals;

namespace {
const QString kOrganization = QStringLiteral("Sayalike");
const QString kApplication = QStringLiteral("Level0");
const QString kFilesGroup = QStringLiteral("Files");
const QString kInitialDir = QStringLiteral("InitialDir");
const QString kInputDeviceName = QStringLiteral("InputDeviceName");
const QString kInputPinName = QStringLiteral("InputPinName");

QString FileKey(int i) {
    return QStringLiteral("File%1").arg(i);
}

// A stored value as a string, or nothing when it is missing or is of a kind no
// string can be made of (a list, an invalid variant).
std::optional<QString> ReadString(const QSettings& store, const QString& key) {
    if (!store.contains(key))
        return std::nullopt;
    QVariant value = store.value(key);
    if (!value.isValid() || !value.convert(QMetaType::fromType<QString>()))
        return std::nullopt;
    return value.toString();
}

// Strings are handed on as C strings, so a stored NUL ends the text.
std::optional<std::wstring> ReadWide(const QSettings& store, const QString& key) {
    auto text = ReadString(store, key);
    if (!text)
        return std::nullopt;
    std::wstring wide = text->toStdWString();
    wide.resize(std::wcslen(wide.c_str()));
    return wide;
}

// Numbers come back from the file as text; a value that is not a 32-bit integer
// in [minimum, maximum] leaves the field as it was.
void ReadInt(const QSettings& store, const QString& key, int& field,
             int minimum = std::numeric_limits<int>::min(),
             int maximum = std::numeric_limits<int>::max()) {
    const auto text = ReadString(store, key);
    if (!text)
        return;
    bool ok = false;
    const int value = text->toInt(&ok);
    if (ok && value >= minimum && value <= maximum)
        field = value;
}

void WriteName(QSettings& store, const QString& key, const std::optional<std::wstring>& name) {
    if (name) {
        store.setValue(key, QString::fromStdWString(*name));
    } else {
        store.remove(key);
    }
}

std::wstring DocumentsFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation).toStdWString();
}

HRESULT CopyString(std::optional<std::wstring>& field, const wchar_t* source) {
    field.reset();
    if (source != nullptr)
        field.emplace(source);
    return S_OK;
}
}  // namespace

IniReg::IniReg(int screenWidth, int screenHeight)
    : filter(L"Audio Files (*.mp3)\0*.mp3\0Wave Files (*.wav)\0*.wav\0\0"s),
      primaryWidth(screenWidth),
      primaryHeight(screenHeight) {
    if (primaryWidth > 0 && primaryHeight > 0)
        availableAreas.emplace_back(0, 0, primaryWidth, primaryHeight);
    PlaceOnScreen(kDefaultWidth, kDefaultHeight);
    SetInitialDir(DocumentsFolder());
}

IniReg::IniReg(int screenWidth, int screenHeight, std::filesystem::path file)
    : IniReg(screenWidth, screenHeight) {
    iniFile = std::move(file);
}

IniReg::~IniReg() = default;

void IniReg::SetAvailableAreas(std::vector<QRect> areas) {
    availableAreas = std::move(areas);
}

// Centred on the primary screen, no larger than it.
void IniReg::PlaceOnScreen(int wantedWidth, int wantedHeight) {
    // Without a usable screen size the window keeps its default size at the origin.
    if (primaryWidth <= 0 || primaryHeight <= 0)
        return;
    width = std::min(wantedWidth, primaryWidth);
    height = std::min(wantedHeight, primaryHeight);
    left = (primaryWidth - width) / 2;
    top = (primaryHeight - height) / 2;
}

// A window stored where no screen is now would open out of sight.
void IniReg::KeepInSight() {
    // In 64 bits: a file edited by hand may hold any 32-bit placement.
    const std::int64_t right = std::int64_t{left} + width, bottom = std::int64_t{top} + height;
    const bool seen =
        width > 0 && height > 0 &&
        std::any_of(availableAreas.begin(), availableAreas.end(), [&](const QRect& area) {
            return left <= area.right() && right > area.left() && top <= area.bottom() &&
                   bottom > area.top();
        });
    if (seen || availableAreas.empty())
        return;
    const bool fits = width > 0 && height > 0 && width <= primaryWidth && height <= primaryHeight;
    PlaceOnScreen(fits ? width : kDefaultWidth, fits ? height : kDefaultHeight);
}

int IniReg::FilterCount() const {
    return static_cast<int>(std::count(filter.begin(), filter.end(), L'\0') - 1) / 2;
}

// A folder that does not fit the dialog's buffer is not taken: the folder stays.
void IniReg::SetInitialDir(const std::wstring& folder) {
    if (folder.size() >= initialDir.size())
        return;
    initialDir.fill(L'\0');
    folder.copy(initialDir.data(), folder.size());
}

std::unique_ptr<QSettings> IniReg::OpenStore() const {
    if (iniFile) {
        return std::make_unique<QSettings>(QString::fromStdU16String(iniFile->u16string()),
                                           QSettings::IniFormat);
    }
    return std::make_unique<QSettings>(kOrganization, kApplication);
}

bool IniReg::HasStoredValues() const {
    return !OpenStore()->allKeys().isEmpty();
}

const wchar_t* IniReg::GetInputDeviceName() {
    return inputDeviceName ? inputDeviceName->c_str() : nullptr;
}

const wchar_t* IniReg::GetInputPinName() {
    return inputPinName ? inputPinName->c_str() : nullptr;
}

HRESULT IniReg::SetInputDeviceName(const wchar_t* name) {
    return CopyString(inputDeviceName, name);
}

HRESULT IniReg::SetInputPinName(const wchar_t* name) {
    return CopyString(inputPinName, name);
}

int IniReg::GetSpkVolPos() {
    return speakerVolumePos;
}

int IniReg::GetMcVolPos() {
    return micVolumePos;
}

void IniReg::SetSpkVolPos(int position) {
    speakerVolumePos = position;
}

void IniReg::SetMcVolPos(int position) {
    micVolumePos = position;
}

void IniReg::Load() {
    const auto store = OpenStore();
    ReadInt(*store, QStringLiteral("Left"), left);
    ReadInt(*store, QStringLiteral("Top"), top);
    ReadInt(*store, QStringLiteral("Width"), width);
    ReadInt(*store, QStringLiteral("Height"), height);
    ReadInt(*store, QStringLiteral("Maximized"), maximized);
    ReadInt(*store, QStringLiteral("FilterIndex"), filterIndex, 1, FilterCount());
    ReadInt(*store, QStringLiteral("SpkVolPos"), speakerVolumePos);
    ReadInt(*store, QStringLiteral("McVolPos"), micVolumePos);
    ReadInt(*store, QStringLiteral("AdvanceAfter"), advanceAfter, 0, 100);
    ReadInt(*store, QStringLiteral("Speed"), speed, 10, 100);
    KeepInSight();
    if (const auto folder = ReadWide(*store, kInitialDir))
        SetInitialDir(*folder);
    inputDeviceName = ReadWide(*store, kInputDeviceName);
    inputPinName = ReadWide(*store, kInputPinName);
    LoadRecentFiles(*store);
}

// Reads File0, File1, ... up to the first missing value. Files that are gone are
// skipped, and so is a path already listed: a list that shrank leaves its old tail
// in the store, which would otherwise bring entries back twice.
void IniReg::LoadRecentFiles(QSettings& store) {
    if (!store.childGroups().contains(kFilesGroup))
        return;
    store.beginGroup(kFilesGroup);
    recent.fill(std::nullopt);
    int count = 0;
    for (int i = 0; i < kRecentCapacity; ++i) {
        auto path = ReadWide(store, FileKey(i));
        if (!path)
            break;
        if (!IsExistingFile(path->c_str()) || FindRecent(path->c_str()) >= 0)
            continue;
        recent[count++] = std::move(*path);
    }
    store.endGroup();
}

void IniReg::Save() {
    const auto store = OpenStore();
    store->setValue(QStringLiteral("Left"), left);
    store->setValue(QStringLiteral("Top"), top);
    store->setValue(QStringLiteral("Width"), width);
    store->setValue(QStringLiteral("Height"), height);
    store->setValue(QStringLiteral("Maximized"), maximized);
    store->setValue(QStringLiteral("FilterIndex"), filterIndex);
    store->setValue(QStringLiteral("SpkVolPos"), speakerVolumePos);
    store->setValue(QStringLiteral("McVolPos"), micVolumePos);
    store->setValue(QStringLiteral("AdvanceAfter"), advanceAfter);
    store->setValue(QStringLiteral("Speed"), speed);
    // The view fills the buffer; one without a NUL has no measurable length.
    const std::size_t folderLength = wcsnlen(initialDir.data(), initialDir.size());
    if (folderLength < initialDir.size()) {
        store->setValue(kInitialDir, QString::fromWCharArray(initialDir.data(),
                                                             static_cast<qsizetype>(folderLength)));
    } else {
        store->remove(kInitialDir);
    }
    WriteName(*store, kInputDeviceName, inputDeviceName);
    WriteName(*store, kInputPinName, inputPinName);
    SaveRecentFiles(*store);
    store->sync();
}

// Writes the entries in use; values numbered above them are left as they are, and
// an empty list leaves the group alone.
void IniReg::SaveRecentFiles(QSettings& store) const {
    if (!recent[0])
        return;
    store.beginGroup(kFilesGroup);
    for (int i = 0; i < kRecentCapacity && recent[i]; ++i) {
        store.setValue(FileKey(i), QString::fromStdWString(*recent[i]));
    }
    store.endGroup();
}
