#pragma once

#include <QByteArray>
#include <QtEndian>

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

// The plain 8-bit sum the card uses over a frame, and the Optocore module over its
// command bytes.
inline quint8 byteSum(const char *bytes, int count)
{
    quint8 sum = 0;
    for (int i = 0; i < count; ++i)
        sum = quint8(sum + quint8(bytes[i]));
    return sum;
}

inline quint8 byteSum(const QByteArray &bytes)
{
    return byteSum(bytes.constData(), bytes.size());
}

// The loaders' packet counts, packet numbers and image sums travel high byte first.
inline QByteArray bigEndian16(quint16 value)
{
    QByteArray bytes(2, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

} // namespace Common
