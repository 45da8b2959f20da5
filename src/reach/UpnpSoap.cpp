#include "reach/UpnpSoap.h"

#include "reach/RouterHttp.h"

#include <QXmlStreamReader>

bool UpnpSoap::isPlainName(const QByteArray &text)
{
    if (text.isEmpty() || text.size() > 200)
        return false;
    for (const char c : text) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':'
                           || c == '.' || c == '-' || c == '_';
        if (!plain)
            return false;
    }
    return true;
}

QByteArray UpnpSoap::envelope(const QByteArray &serviceType, const QByteArray &action, const Arguments &arguments)
{
    QByteArray values;
    for (const auto &[name, value] : arguments)
        values += '<' + name + '>' + value.toHtmlEscaped().toUtf8() + "</" + name + '>';
    return "<?xml version=\"1.0\"?>\r\n<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><u:"
           + action + " xmlns:u=\"" + serviceType + "\">" + values + "</u:" + action + "></s:Body></s:Envelope>\r\n";
}

UpnpSoap::Answer UpnpSoap::read(int status, const QByteArray &body)
{
    Answer answer;
    QXmlStreamReader xml(body);
    QString leaf;
    QString text;
    while (!xml.atEnd() && answer.values.size() < MaxValues) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement:
            leaf = xml.name().toString();
            text.clear();
            break;
        case QXmlStreamReader::Characters:
            if (!leaf.isEmpty() && text.size() < MaxValueChars)
                text += xml.text().left(MaxValueChars - text.size());
            break;
        case QXmlStreamReader::EndElement:
            if (!leaf.isEmpty() && xml.name() == leaf && !answer.values.contains(leaf))
                answer.values.insert(leaf, text.trimmed());
            leaf.clear();
            break;
        default:
            break;
        }
    }
    if (xml.hasError() && xml.error() != QXmlStreamReader::PrematureEndOfDocumentError) {
        answer.why = QStringLiteral("the router's answer is not readable: %1").arg(xml.errorString().left(100));
        return answer;
    }
    if (status == 200) {
        answer.ok = true;
        return answer;
    }
    bool number = false;
    answer.errorCode = answer.values.value(QStringLiteral("errorCode")).toInt(&number);
    if (!number || answer.errorCode <= 0)
        answer.errorCode = 0;
    answer.why = answer.errorCode > 0 ? QStringLiteral("%1 (%2)")
                                            .arg(answer.errorCode)
                                            .arg(answer.values.value(QStringLiteral("errorDescription")).left(100))
                                      : QStringLiteral("the router answered with status %1").arg(status);
    return answer;
}

UpnpSoap::Answer UpnpSoap::call(const QString &controlUrl, const QByteArray &serviceType, const QByteArray &action,
                                const Arguments &arguments)
{
    if (!isPlainName(serviceType)) {
        Answer refused;
        refused.why = QStringLiteral("the router's service type is not a plain name");
        return refused;
    }
    const RouterHttp::Result result = RouterHttp::post(controlUrl, serviceType + '#' + action,
                                                       envelope(serviceType, action, arguments));
    if (!result.ok) {
        Answer broken;
        broken.why = result.why;
        return broken;
    }
    return read(result.status, result.body);
}
