#pragma once
// Judges the console address typed into the preferences window's address edit (which also carries
// the mask "000.000.000.000"): four groups of 0 to 255, not all zero. Owned by the window; GUI
// thread only.

#include <QHostAddress>
#include <QString>
#include <QValidator>

class QIntValidator;

class cIPAddressValidator : public QValidator
{
    Q_OBJECT

public:
    explicit cIPAddressValidator(QObject* Parent = nullptr);

    // Intermediate while a group is empty; Invalid for a group above 255, a character other than a
    // digit, or an address of zeros only; Acceptable otherwise. Neither argument is changed.
    State validate(QString& Input, int& Pos) const override;

    // The address of a text of four dot-separated decimal groups (blanks around the groups allowed,
    // as the mask leaves them). Groups are read in decimal also with leading zeros, which the mask
    // invites ("192.168.001.010" is 192.168.1.10, not the octal reading 192.168.1.8). A null
    // address for anything else.
    static QHostAddress ToAddress(const QString& Text);

private:
    QIntValidator* mIntValidator;
};
