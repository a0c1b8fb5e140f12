#include "app/IPAddressValidator.h"

#include <QtTest>

class tst_IPAddressValidator : public QObject
{
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
    void addresses_data();
    void addresses();
};

void tst_IPAddressValidator::answers_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<int>("state");
    const int invalid = QValidator::Invalid, intermediate = QValidator::Intermediate,
              acceptable = QValidator::Acceptable;

    QTest::newRow("192.168.1.1") << "192.168.1.1" << acceptable;
    QTest::newRow("192.168.1. (last group empty)") << "192.168.1." << intermediate;
    QTest::newRow("192.168.1.256") << "192.168.1.256" << invalid;
    QTest::newRow("256 in the first group") << "256.1.1.1" << invalid;
    QTest::newRow("999") << "1.999.1.1" << invalid;
    QTest::newRow("1000") << "1.1.1000.1" << invalid;
    QTest::newRow("256 before an empty group") << "256...1" << invalid;
    QTest::newRow("0.0.0.0") << "0.0.0.0" << invalid;
    QTest::newRow("000.000.000.000") << "000.000.000.000" << invalid;
    QTest::newRow("0.0.0.1") << "0.0.0.1" << acceptable;
    QTest::newRow("255.255.255.255") << "255.255.255.255" << acceptable;
    QTest::newRow("leading zeros") << "010.001.000.009" << acceptable;
    QTest::newRow("blanks around the digits") << " 19.  1.1  .1 " << acceptable;
    QTest::newRow("blanks only in a group") << "19.   .1.1" << intermediate;
    QTest::newRow("the mask's dots only") << "..." << intermediate;
    QTest::newRow("empty") << "" << intermediate;
    QTest::newRow("a letter") << "19a.1.1.1" << invalid;
    QTest::newRow("a minus") << "-1.1.1.1" << invalid;
    QTest::newRow("a blank inside a group") << "1 9.1.1.1" << invalid;
    QTest::newRow("three groups") << "10.1.1" << acceptable;
}

void tst_IPAddressValidator::answers()
{
    QFETCH(QString, input);
    QFETCH(int, state);
    cIPAddressValidator validator;
    QString text = input;
    int position = 3;
    QCOMPARE(int(validator.validate(text, position)), state);
    QCOMPARE(text, input);
    QCOMPARE(position, 3);
}

void tst_IPAddressValidator::addresses_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("address");
    QTest::newRow("plain") << "192.168.1.1" << "192.168.1.1";
    QTest::newRow("leading zeros are decimal") << "192.168.001.010" << "192.168.1.10";
    QTest::newRow("blanks of the mask") << "10 .0  .0  .7  " << "10.0.0.7";
    QTest::newRow("a group above 255") << "10.0.0.256" << "";
    QTest::newRow("an empty group") << "10.0..1" << "";
    QTest::newRow("three groups") << "10.0.1" << "";
    QTest::newRow("a sign") << "+10.0.0.1" << "";
}

void tst_IPAddressValidator::addresses()
{
    QFETCH(QString, text);
    QFETCH(QString, address);
    const QHostAddress parsed = cIPAddressValidator::ToAddress(text);
    QCOMPARE(parsed.isNull() ? QString() : parsed.toString(), address);
}

QTEST_MAIN(tst_IPAddressValidator)
#include "tst_IPAddressValidator.moc"
