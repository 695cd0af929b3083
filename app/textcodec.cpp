#include "textcodec.h"

#include <QStringDecoder>

namespace {
QByteArrayView View(std::string_view bytes)
{
    return QByteArrayView(bytes.data(), qsizetype(bytes.size()));
}
}

bool IsValidUtf8(std::string_view bytes)
{
    return View(bytes).isValidUtf8();
}

QString DecodeText(std::string_view bytes)
{
    // A byte-order mark stays, so that saving the text gives the file back.
    QStringDecoder utf8(QStringConverter::Utf8,
                        QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    QString text = utf8.decode(View(bytes));
    if (!utf8.hasError())
        return text;
    QStringDecoder latin1(QStringConverter::Latin1);
    return latin1.decode(View(bytes));
}
