#include "LeadingNumber.h"

int leadingNumber(QStringView text, int cap) {
    int value = 0;
    for (const QChar c : text) {
        if (!c.isDigit()) {
            break;
        }
        const int digit = c.digitValue();
        // Saturating keeps a long run of digits from overflowing.
        value = value > (cap - digit) / 10 ? cap : value * 10 + digit;
    }
    return value;
}
