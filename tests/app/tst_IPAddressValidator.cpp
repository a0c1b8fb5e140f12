#include "app/IPAddressValidator.h"

#include <QtTest>

class tst_IPAddressValidator : public QObject
{
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
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

QTEST_MAIN(tst_IPAddressValidator)
#include "tst_IPAddressValidator.moc"
