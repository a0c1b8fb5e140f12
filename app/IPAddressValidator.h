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

private:
    QIntValidator* mIntValidator;
};
