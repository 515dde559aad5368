#pragma once
// The settings store kept with QSettings: organisation "Sayalike", application
// "Level0" (an INI file under $XDG_CONFIG_HOME on Linux, the same key in the
// registry on Windows). Top-level values hold the window placement, the Open
// dialog's folder and filter index, the volumes and the capture device; the group
// "Files" holds the recent-file list as File0..File9. AdvanceAfter and Speed keep
// the study choices.
//
// Load and Save each open the store afresh; in between the fields below and the
// IIniData state are the truth. Not thread-safe: use it from the UI thread.
#include <array>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QRect>

#include "IIniData.h"

class QSettings;

class IniReg : public IIniData {
  public:
    static constexpr int kPathCapacity = 260;  // characters, with the terminating NUL
    static constexpr int kDefaultWidth = 700;
    static constexpr int kDefaultHeight = 400;

    // Defaults for a primary screen of the given size, kept in the user's store.
    // A size of 0 (no screen known) gives the default size at the origin.
    IniReg(int screenWidth, int screenHeight);
    // The same, kept in the INI file iniFile instead.
    IniReg(int screenWidth, int screenHeight, std::filesystem::path iniFile);
    ~IniReg() override;
    IniReg(const IniReg&) = delete;
    IniReg& operator=(const IniReg&) = delete;

    const wchar_t* GetInputDeviceName() override;
    const wchar_t* GetInputPinName() override;
    HRESULT SetInputDeviceName(const wchar_t* name) override;
    HRESULT SetInputPinName(const wchar_t* name) override;
    int GetSpkVolPos() override;
    int GetMcVolPos() override;
    void SetSpkVolPos(int position) override;
    void SetMcVolPos(int position) override;
    void Load() override;
    void Save() override;

    // The desktop areas a window may take, one per screen. A stored placement that
    // meets none of them (a monitor that has gone) is replaced on Load by the
    // default one. Until set, the primary screen from the constructor counts.
    void SetAvailableAreas(std::vector<QRect> areas);

    // Whether the store holds any value: false until the first Save for this user.
    bool HasStoredValues() const;

    // The Open dialog's filter: display text and pattern pairs, each ended by a NUL,
    // plus a final NUL.
    const wchar_t* Filter() const { return filter.c_str(); }

    // Read and written directly by the presenter and the view.
    int left = 0;
    int top = 0;
    int width = kDefaultWidth;
    int height = kDefaultHeight;
    int maximized = 0;
    int minWidth = 544;   // not stored
    int minHeight = 400;  // not stored
    std::array<wchar_t, kPathCapacity> initialDir{};
    std::wstring filter;  // not stored
    int filterIndex = 1;
    int advanceAfter = 0;  // cycles of a phrase before the loop moves on; 0: never
    int speed = 100;       // the narrator's, in percent

  private:
    std::unique_ptr<QSettings> OpenStore() const;
    void PlaceOnScreen(int wantedWidth, int wantedHeight);
    void KeepInSight();
    int FilterCount() const;
    void SetInitialDir(const std::wstring& folder);
    void LoadRecentFiles(QSettings& store);
    void SaveRecentFiles(QSettings& store) const;

    std::optional<std::filesystem::path> iniFile;
    int primaryWidth = 0;
    int primaryHeight = 0;
    std::vector<QRect> availableAreas;
};
