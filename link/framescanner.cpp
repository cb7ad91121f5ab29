#include "link/framescanner.h"

namespace Common {

QVector<FrameScanner::Item> FrameScanner::feed(const QByteArray &chunk)
{
    QVector<Item> items;
    // A large chunk is taken in slices so the buffer never holds more than one slice
    // beyond the bound.
    for (int offset = 0; offset < chunk.size(); offset += SliceSize)
        scanSlice(chunk.constData() + offset, qMin(SliceSize, int(chunk.size()) - offset), items);
    return items;
}

void FrameScanner::clear()
{
    buffer.clear();
    runningSums.assign(1, 0);
    head = 0;
    scanResume = 0;
}

void FrameScanner::scanSlice(const char *bytes, int count, QVector<Item> &items)
{
    buffer.append(bytes, count);
    runningSums.reserve(buffer.size() + 1);
    for (int k = int(buffer.size()) - count; k < buffer.size(); ++k)
        runningSums.push_back(quint8(runningSums.back() + quint8(buffer.at(k))));
    peakBuffered = qMax(peakBuffered, bufferedBytes());

    const int size = int(buffer.size());
    const auto *data = reinterpret_cast<const quint8 *>(buffer.constData());
    int i = qMax(head, scanResume);
    int firstUnsettled = -1; // first position whose frame is not wholly in the buffer yet
    while (i + 3 < size) {
        const int length = data[i];
        if (length < 3) {
            ++i;
            continue;
        }
        if (i + length >= size) {
            if (firstUnsettled < 0)
                firstUnsettled = i;
            ++i;
            continue;
        }
        const quint8 sum = quint8(runningSums[i + length] - runningSums[i]);
        if (sum == data[i + length]) {
            SerialMessage message(buffer.mid(i, length + 1));
            if (message.valid) {
                Item item;
                item.discarded = buffer.mid(head, i - head);
                item.hasMessage = true;
                item.message = message;
                items.append(item);
                head = i + length + 1;
                i = head;
                firstUnsettled = -1;
                continue;
            }
        }
        ++i;
    }
    if (firstUnsettled < 0)
        firstUnsettled = qMax(head, i);
    scanResume = firstUnsettled;

    if (scanResume - head > MaxHeldJunk) {
        Item item;
        item.discarded = buffer.mid(head, scanResume - head);
        items.append(item);
        head = scanResume;
    }
    compact();
}

void FrameScanner::compact()
{
    if (head == 0)
        return;
    buffer.remove(0, head);
    scanResume -= head;
    head = 0;
    runningSums.assign(1, 0);
    for (char byte : qAsConst(buffer))
        runningSums.push_back(quint8(runningSums.back() + quint8(byte)));
}

} // namespace Common
