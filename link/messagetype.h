#pragma once

#include <QtGlobal>

namespace Common {

// The type byte of a card protocol frame (the second byte on the wire). Types 23 to 29
// are unused; the first 23 belong to the console surfaces that share the frame.
enum class MessageType : quint8 {
    Status = 0,
    Restart = 1,
    Error = 2,
    Calibration = 3,
    BootLoader = 4,
    EchoData = 5,
    LedBrightness = 6,
    FaderPosition = 7,
    FaderBackstop = 8,
    FaderDetent = 9,
    FaderMode = 10,
    Led = 11,
    RgbLed = 12,
    VuMeter = 13,
    PeakMeter = 14,
    LedFadeTime = 15,
    FaderTouch = 16,
    PotPosition = 17,
    RotarySteps = 18,
    RotaryTouch = 19,
    Switch = 20,
    BuzzFader = 21,
    OverbridgeBrightness = 22,
    KipStatus = 30,
    QuorixControl = 31,
    KipRoute = 32,
    SyncSource = 33,
    StatusBlock = 34,
    TransmitMode = 35,
    DeviceType = 36,
    InputSampleRate = 37,
    CardStatus = 38,
    UpdateFpga = 39,
    RackType = 40,
    RackSlotType = 41,
    RackCodeDate = 42,
    RackVoltage = 43,
    ControlViaAudio = 44,
    InputSrc = 45,
    OutputSr = 46,
    OptocoreVersion = 47,
    OptocoreCommand = 48,
    OptocoreUpdate = 49,
    ClearToSend = 50,
    RxClockLocked = 51,
    SampleRateOverride = 52,
    MadiMode = 53,
    RedundantState = 54,
    MadiSmux = 55,
    HydraId = 56,
    OptocorePhase = 57,
    OptocoreChannelCount = 58,
};

} // namespace Common
