#include "link/framescanner.h"

#include <algorithm>

namespace Common {

namespace {

constexpr int MaxFrameLength = 255;

} // namespace

FrameScanner::FrameScanner()
{
    const int capacity = CompactThreshold + MaxHeldJunk + MaxFrameLength + 4096;
    // A reserved buffer keeps its storage when it is emptied.
    buffer.reserve(capacity);
    runningSums.reserve(capacity + 1);
    nextWaiting.reserve(capacity);
    clear();
}

QVector<FrameScanner::Item> FrameScanner::feed(const QByteArray &chunk)
{
    QVector<Item> items;
    if (!chunk.isEmpty())
        scan(chunk, items);
    return items;
}

void FrameScanner::clear()
{
    buffer.resize(0);
    runningSums.assign(1, 0);
    nextWaiting.clear();
    waitingHead.fill(-1);
    bufferStart = 0;
    head = 0;
    nextUnseen = 0;
}

bool FrameScanner::frameChecksOut(const quint8 *data, const quint8 *sums, int position)
{
    const int length = data[position];
    // The checksum first: it turns away all but one position in 256, so the branch
    // is well predicted on junk.
    if (quint8(sums[position + length] - sums[position]) != data[position + length])
        return false;
    const int type = data[position + 1];
    return type < SerialMessage::TypeCount && length >= SerialMessage::frameLength(type);
}

void FrameScanner::takeFrameAt(int position, QVector<Item> &items)
{
    const int length = quint8(buffer.at(position));
    Item item;
    item.discarded = buffer.mid(head, position - head);
    item.hasMessage = true;
    item.message = SerialMessage(buffer.mid(position, length + 1));
    items.append(item);
    head = position + length + 1;
}

void FrameScanner::scan(const QByteArray &chunk, QVector<Item> &items)
{
    // The chunk is scanned whole: cut into pieces, a frame carried inside a longer
    // frame's payload could be taken before the longer frame is complete, and the
    // longer frame would be lost.
    const int oldSize = int(buffer.size());
    buffer.append(chunk);
    const int size = int(buffer.size());
    const auto *data = reinterpret_cast<const quint8 *>(buffer.constData());
    runningSums.resize(size_t(size) + 1);
    quint8 *sums = runningSums.data();
    quint8 sum = sums[oldSize];
    for (int k = oldSize; k < size; ++k) {
        sum = quint8(sum + data[k]);
        sums[k + 1] = sum;
    }
    nextWaiting.resize(size_t(size));
    int *next = nextWaiting.data();
    peakBuffered = qMax(peakBuffered, bufferedBytes());

    // Earlier positions whose frames end in this chunk. They all lie before the
    // positions not yet looked at, so the lowest valid one among them comes first.
    completed.clear();
    for (int end = oldSize; end < size; ++end) {
        int &list = waitingHead[size_t((bufferStart + end) & 255)];
        // Positions below head lie inside or before a frame already taken; the list
        // runs downwards, so the rest of it is gone too.
        for (int position = list; position >= head; position = next[position]) {
            if (frameChecksOut(data, sums, position))
                completed.push_back(position);
        }
        list = -1;
    }
    if (!completed.empty()) {
        std::sort(completed.begin(), completed.end());
        for (int position : completed) {
            if (position >= head)
                takeFrameAt(position, items);
        }
    }

    // Positions not looked at before.
    int i = qMax(head, nextUnseen);
    while (i + 3 < size) {
        const int length = data[i];
        if (length < 3) {
            ++i;
        } else if (i + length >= size) {
            int &list = waitingHead[size_t((bufferStart + i + length) & 255)];
            next[i] = list;
            list = i;
            ++i;
        } else if (frameChecksOut(data, sums, i)) {
            takeFrameAt(i, items);
            i = head;
        } else {
            ++i;
        }
    }
    nextUnseen = i;

    // A position can still start a frame only if its frame may end past the buffer,
    // so every position more than 255 bytes back is settled junk.
    const int settledEnd = size - MaxFrameLength;
    if (settledEnd - head > MaxHeldJunk) {
        Item item;
        item.discarded = buffer.mid(head, settledEnd - head);
        items.append(item);
        head = settledEnd;
    }

    if (head >= CompactThreshold)
        compact();
}

void FrameScanner::compact()
{
    buffer.remove(0, head);
    runningSums.erase(runningSums.begin(), runningSums.begin() + head);
    nextWaiting.erase(nextWaiting.begin(), nextWaiting.begin() + head);
    // The lists keep positions; move them with the bytes and cut them where they reach
    // positions that are gone.
    const auto rebase = [this](int position) { return position >= head ? position - head : -1; };
    for (int &list : waitingHead)
        list = rebase(list);
    for (int &next : nextWaiting)
        next = rebase(next);
    bufferStart += head;
    nextUnseen -= head;
    head = 0;
}

} // namespace Common
