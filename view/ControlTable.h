#pragma once
// The controls that the oscillogram's outer decorator places and draws around,
// filled in by the view when it creates them. The pictures it draws itself (icons
// and lamps) are named in Pictures.h.
class IconButton;
class QComboBox;
class QLabel;
class QSlider;

struct ControlTable {
    IconButton* playButton = nullptr;
    IconButton* loopButton = nullptr;
    IconButton* zoomInButton = nullptr;
    IconButton* zoomOutButton = nullptr;
    IconButton* openButton = nullptr;
    QSlider* micVolumeTrackbar = nullptr;
    QSlider* speakerVolumeTrackbar = nullptr;
    QComboBox* inputDeviceCombo = nullptr;
    QComboBox* inputPinCombo = nullptr;
    QComboBox* advanceCombo = nullptr;
    QComboBox* speedCombo = nullptr;
    QLabel* listenLabel = nullptr;
    QLabel* sayLabel = nullptr;
};
