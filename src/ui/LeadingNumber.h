// The number that a text's leading decimal digits spell, as the platform's controls read numbers from texts.
#pragma once

#include <QStringView>
#include <limits>

// 0 when the text starts with no digit; a value above cap reads as cap.
int leadingNumber(QStringView text, int cap = std::numeric_limits<int>::max());
