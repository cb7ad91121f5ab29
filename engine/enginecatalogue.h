#pragma once

#include <QObject>
#include <QString>

namespace EMS {

// The vocabulary of engine messages: each field of a message is a small number, and
// these are its names. The names are the enumerators themselves, so the code that
// builds a message and the text that describes it cannot drift apart.
namespace Engine {
Q_NAMESPACE

// messageType: what kind of message, or what the engine reports about one.
enum MessageType {
    NoAckRequired = 0,
    AckRequired = 1,
    MessageAck = 2,
    Request = 3,
    RequestAck = 4,
    CheckSumError = 5,
    IDError = 6,
    LengthError = 7,
    FlashFileSequenceError = 8,
    FlashFileMismatch = 9,
    FlashFileMissing = 10,
    FlashProgramTimeout = 11,
    FlashEraseTimeout = 12,
    FlashVPPError = 13,
    FlashBlockEraseError = 14,
    FlashCommandSequenceError = 15,
    FlashBlockedLockError = 16,
    FlashProgramFailure = 17,
    FlashProgramSuccess = 18,
    FlashDataError = 19,
    FlashFileChecksumError = 20,
    FlashEraseBlockProgress = 21,
    FlashProgramBlockProgress = 22,
    FXResourcesInsufficient = 23,
    FXSignalOverlap = 24,
    FXResourcesOK = 25,
};
Q_ENUM_NS(MessageType)

// module: the engine module a message addresses. Codes 10, 11, 17, 19 and 21 are
// unnamed; 22 and above are not modules at all.
enum Module {
    System = 0,
    Input = 1,
    EQ = 2,
    Dynamics = 3,
    Bussing = 4,
    FXsend = 5,
    GraphicEQ = 6,
    Matrix = 7,
    Monitor = 8,
    IOmodule = 9,
    Meters = 12,
    BussResult = 13,
    MatResult = 14,
    MonResult = 15,
    Fader = 16,
    FXcontrol = 18,
    MixMinus = 20,
};
Q_ENUM_NS(Module)

constexpr int ModuleLimit = 22;

// parameter of a System module message.
enum SystemMessage {
    KeepAlive = 1,
    StartDownload = 3,
    PacketDownload = 4,
    EndDownload = 5,
    ProgramFlash = 6,
    Reset = 7,
    SetSyncSource = 8,
    SampleRate = 9,
    LockPhase = 10,
    WordClockPhase = 11,
    VideoFrameRate = 12,
    VideoMaster = 13,
    ValidSyncBlock = 14,
    ResetNvr = 17,
    SampleCounter = 18,
    Environment = 20,
    SequenceError = 21,
    Offline = 22,
    Interpolation = 25,
    TestLog = 28,
    Diagnostics = 32,
    EchoTest = 35,
    EngineType = 38,
    EngineSerial = 39,
    FxAutoReboot = 40,
    ProgramAFiles = 41,
    // The card link's engine path: a slot's baud rate (one float) and its serial bytes.
    SerialBaud = 43,
    SerialData = 44,
    StatusBlock = 45,
};
Q_ENUM_NS(SystemMessage)

// parameter of a message for a channel module (any but System, Meters and FXcontrol).
enum Parameter {
    InputSource = 0,
    InputTrim = 1,
    EqBypass = 2,
    EqBandBypass = 3,
    EqMode = 4,
    EqFrequency = 5,
    EqQ = 6,
    EqGain = 7,
    DelayTime = 8,
    DynGain = 9,
    DynRange = 10,
    DynMode = 11,
    DynAutoAttack = 12,
    DynAutoRelease = 13,
    DynThreshold = 14,
    DynKnee = 15,
    DynRatio = 16,
    DynAttack = 17,
    DynRelease = 18,
    DynHold = 19,
    DynLink = 20,
    DynKeySelect = 22,
    DynKeyListen = 23,
    DynMonitorMode = 24,
    TubeBias = 26,
    TubeDrive = 27,
    TubeOn = 28,
    TrimNoInterpolation = 29,
    DynAutoThreshold = 31,
    BussStructure = 32,
    FaderGain = 33,
    FaderMute = 34,
    PanCoefficient = 35,
    NodeGain = 36,
    NodeMode = 38,
    LimiterRelease = 53,
    TestFrequency = 54,
    TestPattern = 55,
    LimiterOver = 56,
    InputOver = 57,
    OutputTrim = 60,
    OutputMute = 61,
    Phantom = 131,
    InputSRC = 132,
    AnalogGain = 134,
    InputPad = 137,
    OutputPad = 144,
    OutputSampleRate = 147,
};
Q_ENUM_NS(Parameter)

// parameter of a Meters module message.
enum MeterField {
    Attack = 3,
    Release = 4,
    PeakHold = 5,
    Slot = 8,
    Count = 9,
    DMABlock = 10,
    UpdateRate = 16,
    OversTimeout = 18,
    OversClear = 19,
    StreamerChoice = 23,
    StreamerBlock = 24,
};
Q_ENUM_NS(MeterField)

// Each gives the empty text for a code without a name.
QString messageTypeName(int code);
QString moduleName(int code);
QString systemMessageName(int code);
QString parameterName(int code);
QString meterFieldName(int code);

// The engine's failure reports: checksum, identity, length and flash failures.
bool isErrorType(int messageType);

} // namespace Engine
} // namespace EMS
