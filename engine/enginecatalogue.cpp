#include "engine/enginecatalogue.h"

#include <QMetaEnum>

namespace EMS {
namespace Engine {

namespace {

template<typename Enum>
QString nameOf(int code)
{
    // valueToKey answers null for a code that has no enumerator.
    return QString::fromLatin1(QMetaEnum::fromType<Enum>().valueToKey(code));
}

} // namespace

QString messageTypeName(int code) { return nameOf<MessageType>(code); }
QString moduleName(int code) { return nameOf<Module>(code); }
QString systemMessageName(int code) { return nameOf<SystemMessage>(code); }
QString parameterName(int code) { return nameOf<Parameter>(code); }
QString meterFieldName(int code) { return nameOf<MeterField>(code); }

bool isErrorType(int messageType)
{
    return messageType >= CheckSumError && messageType <= FlashFileChecksumError
        && messageType != FlashProgramSuccess;
}

} // namespace Engine
} // namespace EMS
