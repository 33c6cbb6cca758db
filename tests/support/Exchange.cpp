#include "Exchange.h"

namespace marovin_test {

void fixSum(QByteArray &reply)
{
    if (reply.size() < 2)
        return;
    unsigned sum = 0;
    for (int i = 1; i < reply.size() - 1; ++i)
        sum += static_cast<unsigned char>(reply[i]);
    reply[reply.size() - 1] = static_cast<char>(sum & 0xFF);
}

QByteArray goodReply(const Protocol &request, const QByteArray &data)
{
    if (request.var.accessMode == 1 && request.replyLength == 1)
        return QByteArray("O");
    if (request.replyLength <= 0)
        return QByteArray();
    QByteArray reply(request.replyLength, '\0');
    reply[0] = static_cast<char>(request.replyLength - 2);
    for (int i = 0; i < data.size() && request.dataOffset + i < reply.size() - 1; ++i)
        reply[request.dataOffset + i] = data[i];
    fixSum(reply);
    return reply;
}

int exchangeGood()
{
    Protocol *p = ComCommunication();
    if (!p)
        return -1;
    QByteArray reply = goodReply(*p);
    return DataCom(&reply, reply.size())->status;
}

int exchangeWith(const QByteArray &bytes)
{
    if (!ComCommunication())
        return -1;
    QByteArray reply = bytes;
    return DataCom(&reply, reply.size())->status;
}

}  // namespace marovin_test
