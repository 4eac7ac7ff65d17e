// An IPv4 address field: four octet boxes separated by dots, edited with the keyboard.
#pragma once

#include <QWidget>
#include <array>
#include <cstdint>

class QLineEdit;

class CIPAddressCtrl : public QWidget {
    Q_OBJECT
public:
    explicit CIPAddressCtrl(QWidget* parent = nullptr);

    // "a.b.c.d"; each part is read as a number and clamped to 0..255, missing parts become 0.
    void setAddressText(const QString& text);
    // IP1 in bits 24-31 down to IP4 in bits 0-7.
    std::uint32_t GetAddress() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::array<QLineEdit*, 4> m_fields{};
};
