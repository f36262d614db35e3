#include "storage/byte_stream.h"

#include <limits>

namespace atlor {

void TReadCursor::Seek(size_t position) {
  if (position > Size())
    throw EStorageDataError("Ошибка чтения потока: позиция " + std::to_string(position) +
                                " за концом данных (" + std::to_string(Size()) + " байт)",
                            Position());
  pos_ = begin_ + position;
}

void TReadCursor::ShortRead(size_t wanted) const {
  throw EStorageDataError("Ошибка чтения потока: в позиции " + std::to_string(Position()) +
                              " нужно " + std::to_string(wanted) + " байт, осталось " +
                              std::to_string(Remaining()),
                          Position());
}

void PutCount16(TWriteBuffer& out, int64_t count, const std::string& what) {
  if (count < 0 || count > std::numeric_limits<int16_t>::max())
    throw EStorageWriteError(what + ": " + std::to_string(count) + " (допустимо не более " +
                             std::to_string(std::numeric_limits<int16_t>::max()) + ")");
  out.PutI16(static_cast<int16_t>(count));
}

}  // namespace atlor
