#include "app/IPAddressValidator.h"

#include <QIntValidator>
#include <QStringList>

cIPAddressValidator::cIPAddressValidator(QObject* Parent)
    : QValidator(Parent), mIntValidator(new QIntValidator(0, 255, this))
{
}

QValidator::State cIPAddressValidator::validate(QString& Input, int&) const
{
    const QStringList parts = Input.split(QLatin1Char('.'), Qt::KeepEmptyParts, Qt::CaseSensitive);
    bool allZero = true;
    for (const QString& rawPart : parts)
    {
        QString part = rawPart.trimmed();
        int position = 0;
        const State state = mIntValidator->validate(part, position);
        // QIntValidator answers Intermediate for a number with no more digits than its top even when
        // it is above the top (256 to 999), which would let the edit take such a group. A group
        // above 255 never becomes valid by typing more, so it is refused outright.
        bool isNumber = false;
        const int value = part.toInt(&isNumber, 10);
        if (isNumber && value > 255)
            return Invalid;
        if (state != Acceptable)
            return state;
        if (value != 0)
            allZero = false;
    }
    return allZero ? Invalid : Acceptable;
}
