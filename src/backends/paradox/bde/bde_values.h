#pragma once

// Comparisons of values as the data-access components make them.

#include <cstdint>

#include "core/value.h"

namespace atlor::bde {

// The same-value test of the variant library: Null (or Empty) equals only Null (or Empty);
// numbers compare by value whatever their kinds; a text compared with a number is read as a
// number; texts compare exactly, byte arrays byte by byte; other mixtures are different.
bool SameValue(const Value& a, const Value& b);

// Whether a stored field value matches a located value: `key` is taken in the stored value's
// kind (a value that cannot be converted matches nothing). Options (TLocateOptions):
// 0x01 texts compare without regard to case, 0x02 a text matches when it begins with `key`.
bool SameFieldValue(const Value& stored, const Value& key, uint8_t options);

}  // namespace atlor::bde
