#include "tools/mapcheck/MapChecker.h"

#include "Common/LogError.h"
#include "MIDITranslator/ConsoleLockPolicy.h"
#include "MIDITranslator/MIDITranslatorConfiguration.h"
#include "MIDITranslator/MIDITranslatorRule.h"
#include "MIDITranslator/MIDITranslatorRuleOptions.h"
#include "MIDITranslator/MIDITranslatorVariable.h"
#include "MIDITranslator/MixerDawMap.h"
#include "tools/mapcheck/RecordingMIDIConfiguration.h"
#include "tools/mapcheck/RecordingMIDIPort.h"

#include <QDir>
#include <QEventLoop>
#include <QTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QMutex>
#include <QRegularExpression>

const QString cMapChecker::kTcpPortName = cMIDITranslatorConfiguration::TCPPortName();

namespace
{
const QString kMixerIn = QStringLiteral("Mixer In");
const QString kMixerOut = QStringLiteral("Mixer Out");
const QString kChannelVariable = QStringLiteral("MIDI Channel");
const QString kPortMark = QStringLiteral("Quillon MIDI");

const QStringList kTopKeys = {"virtual_ports", "port_aliases", "variables", "rules", "announcements", "comment"};
const QStringList kAnnouncementKeys = {"name", "when", "midi", "ports", "needs_console", "comment"};
const QStringList kAliasKeys = {"type", "name", "alias", "comment"};
const QStringList kVariableKeys = {"name", "variable_name", "default", "values", "comment"};
const QStringList kValueKeys = {"value", "name"};
const QStringList kRuleKeys = {"name", "incoming", "outgoing", "value_capture", "value", "only_when_changed",
                                "needs_console", "gesture", "remember", "when_remembered", "comment",
                                cConsoleLockPolicy::SafeKey()};
const QStringList kSideKeys = {"midi", "ports"};
const QStringList kMixerMapKeys = {"mixers", "comment"};
const QStringList kFamilyKeys = {"name", "find", "daws", "comment"};
const QStringList kDawKeys = {"name", "file", "comment"};

// Edits (insert, delete, replace, swap two neighbours) from A to B, stopping early above Limit.
int Distance(const QString& A, const QString& B, int Limit)
{
    if (qAbs(A.size() - B.size()) > Limit)
        return Limit + 1;
    QVector<QVector<int>> d(A.size() + 1, QVector<int>(B.size() + 1));
    for (int i = 0; i <= A.size(); ++i)
        d[i][0] = i;
    for (int j = 0; j <= B.size(); ++j)
        d[0][j] = j;
    for (int i = 1; i <= A.size(); ++i)
        for (int j = 1; j <= B.size(); ++j)
        {
            const int cost = A.at(i - 1) == B.at(j - 1) ? 0 : 1;
            d[i][j] = qMin(qMin(d[i - 1][j] + 1, d[i][j - 1] + 1), d[i - 1][j - 1] + cost);
            if (i > 1 && j > 1 && A.at(i - 1) == B.at(j - 2) && A.at(i - 2) == B.at(j - 1))
                d[i][j] = qMin(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[A.size()][B.size()];
}

QString Suggestion(const QString& Word, const QStringList& Known)
{
    for (const QString& known : Known)
        if (Distance(Word.toLower(), known, 2) <= 2)
            return QStringLiteral(" (did you mean \"%1\"?)").arg(known);
    return QString();
}

const char* TypeName(const QJsonValue& Value)
{
    switch (Value.type())
    {
    case QJsonValue::Null: return "null";
    case QJsonValue::Bool: return "a boolean";
    case QJsonValue::Double: return "a number";
    case QJsonValue::String: return "a string";
    case QJsonValue::Array: return "an array";
    case QJsonValue::Object: return "an object";
    default: return "missing";
    }
}

// Log lines written while the checker loads, message part only, with the source file that wrote
// each. The program's own lines still go to standard output as always.
class cLogCollector
{
public:
    cLogCollector()
    {
        SetLogErrorObserver([this](const char* Line) {
            QMutexLocker lock(&mMutex);
            mLines << QString::fromUtf8(Line);
        });
    }
    ~cLogCollector() { SetLogErrorObserver(nullptr); }
    // Messages written by the source file whose name ends so.
    QStringList From(const QString& File) const
    {
        QMutexLocker lock(&mMutex);
        QStringList messages;
        static const QRegularExpression line(QStringLiteral("^ERROR: (.*)\\t\\((.*):\\d+\\)\\n?$"),
                                             QRegularExpression::DotMatchesEverythingOption);
        for (const QString& text : mLines)
        {
            const QRegularExpressionMatch match = line.match(text);
            if (match.hasMatch() && match.captured(2).endsWith(File))
                messages << match.captured(1);
        }
        return messages;
    }

private:
    mutable QMutex mMutex;
    QStringList mLines;
};

// Why one token of a "midi" string is refused, in the words of the pattern syntax.
QString TokenProblem(const QString& Token, bool Incoming, const QList<cMIDITranslatorVariable>& Variables,
                     const QStringList& Captures)
{
    static const QRegularExpression grammar(QStringLiteral("^([a-zA-Z0-9]|\\*[g-zG-Z]){1,2}$"));
    if (!grammar.match(Token).hasMatch())
        return QStringLiteral("token \"%1\" is not one or two of: a hex digit, a capture letter g-z, "
                              "or * and a variable's letter")
            .arg(Token);
    for (int i = 0; i < Token.size(); ++i)
    {
        if (Token.at(i) != QLatin1Char('*'))
            continue;
        const QString letter = Token.mid(i + 1, 1);
        bool known = false;
        for (const cMIDITranslatorVariable& variable : Variables)
            known = known || variable.GetVariableName() == letter;
        if (!known)
            return QStringLiteral("token \"%1\" refers to no variable \"%2\"").arg(Token, letter);
        ++i;
    }
    if (Incoming)
        return QStringLiteral("token \"%1\" captures a letter a second time").arg(Token);
    return QStringLiteral("token \"%1\" copies a capture letter that the incoming \"midi\" has not (captures: %2)")
        .arg(Token, Captures.isEmpty() ? QStringLiteral("none") : Captures.join(QLatin1Char(' ')));
}
// The optional keys of one rule, short, for the summary: " [only when changed, gesture 250 ms]".
QString OptionsText(const QJsonObject& Rule)
{
    QStringList parts;
    const QJsonObject value = Rule.value(QStringLiteral("value")).toObject();
    if (!value.isEmpty())
    {
        QString part = QStringLiteral("value %1 -> %2").arg(value.value(QStringLiteral("from")).toString(), value.value(QStringLiteral("to")).toString());
        if (value.contains(QStringLiteral("table")))
            part += QStringLiteral(", table of %1 points").arg(value.value(QStringLiteral("table")).toArray().size());
        if (value.contains(QStringLiteral("steps")))
            part += QStringLiteral(", steps %1 (bit 6 %2)").arg(value.value(QStringLiteral("steps")).toString(),
                                                                 value.value(QStringLiteral("bit6")).toString(QStringLiteral("left")));
        parts << part;
    }
    if (Rule.value(QStringLiteral("only_when_changed")).toBool())
        parts << QStringLiteral("only when changed");
    if (Rule.value(QStringLiteral("needs_console")).toBool())
        parts << QStringLiteral("needs the console");
    const QJsonObject gesture = Rule.value(QStringLiteral("gesture")).toObject();
    if (!gesture.isEmpty())
        parts << QStringLiteral("gesture, ends %1 ms after the last").arg(gesture.value(QStringLiteral("quiet_ms")).toInt());
    const QJsonObject remember = Rule.value(QStringLiteral("remember")).toObject();
    if (!remember.isEmpty())
        parts << QStringLiteral("remembers %1 as \"%2\"").arg(remember.value(QStringLiteral("capture")).toString(),
                                                              remember.value(QStringLiteral("slot")).toString());
    const QJsonObject when = Rule.value(QStringLiteral("when_remembered")).toObject();
    if (!when.isEmpty())
        parts << QStringLiteral("when \"%1\" is %2").arg(when.value(QStringLiteral("slot")).toString()).arg(when.value(QStringLiteral("is")).toInt());
    return parts.isEmpty() ? QString() : QStringLiteral(" [%1]").arg(parts.join(QStringLiteral("; ")));
}
} // namespace

cMapChecker::cMapChecker() = default;

cMapChecker::~cMapChecker()
{
    // The configuration's matchers listen to the link: it goes last.
    mConfiguration.reset();
    mLink.reset();
}

void cMapChecker::Add(bool Rejection, const QString& Path, const QString& Message, bool AtKey)
{
    sMapFinding finding;
    finding.Rejection = Rejection;
    finding.Path = Path;
    finding.Message = Message;
    if (mPositions && !Path.isEmpty())
        finding.Position = AtKey ? mPositions->KeyOf(Path) : mPositions->Of(Path);
    mFindings << finding;
}

int cMapChecker::RejectionCount() const
{
    int count = 0;
    for (const sMapFinding& finding : mFindings)
        count += finding.Rejection ? 1 : 0;
    return count;
}

int cMapChecker::WarningCount() const
{
    return mFindings.size() - RejectionCount();
}

QStringList cMapChecker::FindingLines() const
{
    QStringList lines;
    for (const sMapFinding& finding : mFindings)
    {
        QString line = mPath;
        if (finding.Position.Line > 0)
            line += QStringLiteral(":%1:%2").arg(finding.Position.Line).arg(finding.Position.Column);
        line += finding.Rejection ? QStringLiteral(": rejected: ") : QStringLiteral(": warning: ");
        if (!finding.Path.isEmpty())
            line += finding.Path + QStringLiteral(": ");
        lines << line + finding.Message;
    }
    return lines;
}

void cMapChecker::Check(const QString& Path)
{
    mPath = Path;
    mFindings.clear();
    mPositions.reset();
    mVirtualPorts.clear();
    mInputAliases.clear();
    mOutputAliases.clear();
    mConfiguration.reset();
    mLink.reset();

    QFile file(Path);
    if (!file.open(QIODevice::ReadOnly))
    {
        Add(true, QString(), QStringLiteral("cannot read the file: %1").arg(file.errorString()));
        return;
    }
    mText = file.readAll();
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(mText, &error);
    if (error.error != QJsonParseError::NoError)
    {
        sMapFinding finding;
        finding.Rejection = true;
        // Qt's offset is mostly one past the character it stumbled on.
        finding.Position = cJsonPositions::AtOffset(mText, qMax(0, error.offset - 1));
        finding.Message = QStringLiteral("not valid JSON: %1; the program loads nothing of this file").arg(error.errorString());
        mFindings << finding;
        return;
    }
    mPositions.reset(new cJsonPositions(mText));
    mFamilies.clear();
    if (document.isObject() && document.object().contains(QStringLiteral("mixers")))
    {
        CheckMixerMap(document.object());
        return;
    }

    // The program's own load, with ports that record instead of devices.
    QStringList variableRejections;
    QStringList ruleRejections;
    QStringList announcementRejections;
    {
        cLogCollector log;
        mRegistry = new cRecordingMIDIConfiguration;
        mConfiguration.reset(new cMIDITranslatorConfiguration(mRegistry));
        mLink.reset(new cRecordingMIDIPort);
        mConfiguration->SetTCPInputOutput(mLink.get());
        mConfiguration->LoadFile(Path);
        mConfiguration->SetMixerInputPortName(kTcpPortName);
        mConfiguration->SetMixerOutputPortName(kTcpPortName);
        for (const QString& message : log.From(QStringLiteral("MIDITranslatorVariable.cpp")))
            if (!message.startsWith(QLatin1String("Invalid value:")))
                variableRejections << message;
        for (const QString& message : log.From(QStringLiteral("MIDITranslatorRule.cpp")))
            if (message.startsWith(QLatin1String("No ")) || message.startsWith(QLatin1String("Invalid ")))
                ruleRejections << message;
        for (const QString& message : log.From(QStringLiteral("MIDITranslatorConfiguration.cpp")))
            if (message.startsWith(QLatin1String("Invalid announcement")))
                announcementRejections << message;
        // Translations are shown with the console there, so that "needs_console" rules answer.
        mConfiguration->SetConsoleReachable(true);
    }

    if (!document.isObject())
    {
        Add(false, QStringLiteral("$"), QStringLiteral("the top level is not an object: nothing is loaded"));
        return;
    }
    const QJsonObject top = document.object();
    CheckKeys(top, QStringLiteral("$"), kTopKeys);
    CheckVirtualPorts(top.value(QStringLiteral("virtual_ports")));
    CheckAliases(top.value(QStringLiteral("port_aliases")));
    CheckVariables(top.value(QStringLiteral("variables")), variableRejections);
    CheckRules(top.value(QStringLiteral("rules")), ruleRejections);
    CheckAnnouncements(top.value(QStringLiteral("announcements")), announcementRejections);

    // Whatever refusal could not be tied to an object (it cannot happen, but nothing is lost).
    for (const QString& message : variableRejections + ruleRejections + announcementRejections)
        Add(true, QString(), message);

    // The sort keeps the report in file order.
    std::stable_sort(mFindings.begin(), mFindings.end(), [](const sMapFinding& A, const sMapFinding& B) {
        return A.Position.Line != B.Position.Line ? A.Position.Line < B.Position.Line
                                                  : A.Position.Column < B.Position.Column;
    });
}

void cMapChecker::CheckKeys(const QJsonObject& Object, const QString& Path, const QStringList& Known)
{
    for (auto it = Object.begin(); it != Object.end(); ++it)
        if (!Known.contains(it.key()))
            Add(false, cJsonPositions::Member(Path, it.key()),
                QStringLiteral("unknown key \"%1\" is ignored%2").arg(it.key(), Suggestion(it.key(), Known)), true);
}

void cMapChecker::CheckVirtualPorts(const QJsonValue& Value)
{
    const QString path = QStringLiteral("$.virtual_ports");
    if (Value.isUndefined())
        return;
    if (!Value.isArray())
    {
        Add(false, path, QStringLiteral("is %1, not an array of names: no virtual port is made").arg(TypeName(Value)));
        return;
    }
    const QJsonArray ports = Value.toArray();
    for (int i = 0; i < ports.size(); ++i)
    {
        const QString at = cJsonPositions::Element(path, i);
        if (!ports.at(i).isString())
        {
            Add(false, at, QStringLiteral("is %1, not a port name: skipped").arg(TypeName(ports.at(i))));
            continue;
        }
        const QString name = ports.at(i).toString();
        if (mVirtualPorts.contains(name))
            Add(false, at, QStringLiteral("virtual port \"%1\" is named twice").arg(name));
        else if (!name.contains(kPortMark))
            Add(false, at,
                QStringLiteral("virtual port \"%1\" does not contain \"%2\": the window lists it among the "
                               "console's ports")
                    .arg(name, kPortMark));
        mVirtualPorts.insert(name);
    }
}

void cMapChecker::CheckAliases(const QJsonValue& Value)
{
    const QString path = QStringLiteral("$.port_aliases");
    if (!Value.isUndefined() && !Value.isArray())
        Add(false, path, QStringLiteral("is %1, not an array: no alias is read").arg(TypeName(Value)));
    const QJsonArray aliases = Value.toArray();
    for (int i = 0; i < aliases.size(); ++i)
    {
        const QString at = cJsonPositions::Element(path, i);
        if (!aliases.at(i).isObject())
        {
            Add(false, at, QStringLiteral("is %1, not an alias object: skipped").arg(TypeName(aliases.at(i))));
            continue;
        }
        const QJsonObject alias = aliases.at(i).toObject();
        CheckKeys(alias, at, kAliasKeys);
        bool complete = true;
        for (const char* key : {"type", "name", "alias"})
        {
            const QJsonValue field = alias.value(QLatin1String(key));
            if (!field.isString())
            {
                Add(false, field.isUndefined() ? at : cJsonPositions::Member(at, QLatin1String(key)),
                    QStringLiteral("\"%1\" is %2, not a string: the alias is skipped").arg(QLatin1String(key), TypeName(field)));
                complete = false;
            }
        }
        if (!complete)
            continue;
        const QString type = alias.value(QStringLiteral("type")).toString();
        const QString name = alias.value(QStringLiteral("name")).toString();
        const QString aliasName = alias.value(QStringLiteral("alias")).toString();
        if (type == QLatin1String("input"))
            mInputAliases << qMakePair(aliasName, name);
        else if (type == QLatin1String("output"))
            mOutputAliases << qMakePair(aliasName, name);
        else
            Add(false, cJsonPositions::Member(at, QStringLiteral("type")),
                QStringLiteral("type \"%1\" is neither \"input\" nor \"output\": the alias is skipped%2")
                    .arg(type, Suggestion(type, {QStringLiteral("input"), QStringLiteral("output")})));
    }
    auto declared = [](const QList<QPair<QString, QString>>& List, const QString& Alias) {
        for (const auto& entry : List)
            if (entry.first == Alias)
                return true;
        return false;
    };
    if (!declared(mInputAliases, kMixerIn))
        Add(false, QStringLiteral("$"), QStringLiteral("no input alias \"%1\": the console's input cannot be chosen").arg(kMixerIn));
    if (!declared(mOutputAliases, kMixerOut))
        Add(false, QStringLiteral("$"), QStringLiteral("no output alias \"%1\": the console's output cannot be chosen").arg(kMixerOut));
}

void cMapChecker::CheckVariables(const QJsonValue& Value, QStringList& Rejections)
{
    const QString path = QStringLiteral("$.variables");
    if (!Value.isUndefined() && !Value.isArray())
        Add(false, path, QStringLiteral("is %1, not an array: no variable is read").arg(TypeName(Value)));
    const QJsonArray variables = Value.toArray();
    const QList<cMIDITranslatorVariable>& loaded = mConfiguration->GetVariables();
    int next = 0;
    bool channel = false;
    QSet<QString> letters;
    for (int i = 0; i < variables.size(); ++i)
    {
        const QString at = cJsonPositions::Element(path, i);
        if (!variables.at(i).isObject())
        {
            Add(false, at, QStringLiteral("is %1, not a variable object: skipped").arg(TypeName(variables.at(i))));
            continue;
        }
        const QJsonObject object = variables.at(i).toObject();
        const QString name = object.value(QStringLiteral("name")).toString();
        const QString letter = object.value(QStringLiteral("variable_name")).toString();
        // Accepted variables are loaded in file order; a refused one left a log line instead.
        if (next < loaded.size() && loaded.at(next).GetName() == name && loaded.at(next).GetVariableName() == letter &&
            object.value(QStringLiteral("name")).isString() && object.value(QStringLiteral("variable_name")).isString())
            ++next;
        else
        {
            Add(true, at, QStringLiteral("variable \"%1\" refused: %2")
                              .arg(name, Rejections.isEmpty() ? QStringLiteral("?") : Rejections.takeFirst()));
            continue;
        }
        CheckKeys(object, at, kVariableKeys);
        channel = channel || name == kChannelVariable;
        if (letters.contains(letter))
            Add(false, cJsonPositions::Member(at, QStringLiteral("variable_name")),
                QStringLiteral("variable \"%1\": the letter \"%2\" is taken by an earlier variable, which rules use instead").arg(name, letter));
        letters.insert(letter);
        if (QStringLiteral("abcdefABCDEF").contains(letter))
            Add(false, cJsonPositions::Member(at, QStringLiteral("variable_name")),
                QStringLiteral("variable \"%1\": \"*%2\" cannot be written in a pattern (variables use g to z)").arg(name, letter));
        const QJsonArray values = object.value(QStringLiteral("values")).toArray();
        QList<uint8_t> allowed;
        for (int v = 0; v < values.size(); ++v)
        {
            const QString valueAt = cJsonPositions::Element(cJsonPositions::Member(at, QStringLiteral("values")), v);
            const QJsonObject entry = values.at(v).toObject();
            if (!values.at(v).isObject() || !entry.value(QStringLiteral("value")).isDouble() ||
                !entry.value(QStringLiteral("name")).isString())
            {
                Add(false, valueAt,
                    QStringLiteral("variable \"%1\": a value entry needs a number \"value\" and a string \"name\": "
                                   "skipped")
                        .arg(name));
                continue;
            }
            CheckKeys(entry, valueAt, kValueKeys);
            allowed << cMIDITranslatorVariable::ByteFromJsonNumber(entry.value(QStringLiteral("value")).toDouble());
        }
        const uint8_t byte = cMIDITranslatorVariable::ByteFromJsonNumber(object.value(QStringLiteral("default")).toDouble());
        if (allowed.isEmpty())
            Add(false, at, QStringLiteral("variable \"%1\" allows no value").arg(name));
        else if (!allowed.contains(byte))
            Add(false, cJsonPositions::Member(at, QStringLiteral("default")),
                QStringLiteral("variable \"%1\": the default %2 is not among its values").arg(name).arg(byte));
    }
    if (!channel)
        Add(false, QStringLiteral("$"),
            QStringLiteral("no variable named \"%1\": the window's channel choice changes nothing").arg(kChannelVariable));
}

void cMapChecker::CheckRules(const QJsonValue& Value, QStringList& Rejections)
{
    const QString path = QStringLiteral("$.rules");
    if (!Value.isUndefined() && !Value.isArray())
        Add(false, path, QStringLiteral("is %1, not an array: no rule is read").arg(TypeName(Value)));
    const QJsonArray rules = Value.toArray();
    const QList<cMIDITranslatorRule>& loaded = mConfiguration->GetRules();
    int next = 0;
    for (int i = 0; i < rules.size(); ++i)
    {
        const QString at = cJsonPositions::Element(path, i);
        if (!rules.at(i).isObject())
        {
            Add(false, at, QStringLiteral("is %1, not a rule object: skipped").arg(TypeName(rules.at(i))));
            continue;
        }
        const QJsonObject rule = rules.at(i).toObject();
        const QString name = rule.value(QStringLiteral("name")).toString();
        const QJsonObject incoming = rule.value(QStringLiteral("incoming")).toObject();
        const QJsonObject outgoing = rule.value(QStringLiteral("outgoing")).toObject();
        const bool accepted = next < loaded.size() && loaded.at(next).GetName() == name &&
                              loaded.at(next).GetIncomingMidi() == incoming.value(QStringLiteral("midi")).toString() &&
                              loaded.at(next).GetOutgoingMidi() == outgoing.value(QStringLiteral("midi")).toString();
        if (!accepted)
        {
            QString reason = Rejections.isEmpty() ? QStringLiteral("?") : Rejections.takeFirst();
            // Name the offending token, found with the program's own validation, token by token.
            for (const bool in : {true, false})
            {
                const QString side = in ? QStringLiteral("incoming") : QStringLiteral("outgoing");
                if (!reason.startsWith(QStringLiteral("Invalid %1 midi").arg(side)))
                    continue;
                const QStringList tokens = cMIDITranslatorRule::SplitMidi(incoming.value(QStringLiteral("midi")).toString());
                QStringList captures;
                QStringList prefix;
                const QStringList checked = in ? tokens : cMIDITranslatorRule::SplitMidi(outgoing.value(QStringLiteral("midi")).toString());
                if (!in)
                {
                    cMIDITranslatorRule::ValidateIncomingMidi(tokens, &mConfiguration->GetVariables(), &captures);
                    // The letters a "value" key makes are the outgoing string's too.
                    for (const QChar letter : rule.value(QStringLiteral("value")).toObject().value(QStringLiteral("to")).toString())
                        captures << QString(letter);
                }
                for (const QString& token : checked)
                {
                    prefix << token;
                    QStringList scratch;
                    const bool ok = in ? cMIDITranslatorRule::ValidateIncomingMidi(prefix, &mConfiguration->GetVariables(), &scratch)
                                       : cMIDITranslatorRule::ValidateOutgoingMidi(prefix, &mConfiguration->GetVariables(), captures);
                    if (!ok)
                    {
                        reason += QStringLiteral(": ") + TokenProblem(token, in, mConfiguration->GetVariables(), captures);
                        Add(true, cJsonPositions::Member(cJsonPositions::Member(at, side), QStringLiteral("midi")),
                            QStringLiteral("rule \"%1\" refused: %2").arg(name, reason));
                        reason.clear();
                        break;
                    }
                }
            }
            // A refused optional key is pointed at: "Invalid "gesture" for rule ...".
            static const QRegularExpression optionKey(QStringLiteral("^Invalid \"([a-z_]+)\" for rule"));
            const QRegularExpressionMatch option = optionKey.match(reason);
            if (!reason.isEmpty() && option.hasMatch())
                Add(true, cJsonPositions::Member(at, option.captured(1)), QStringLiteral("rule \"%1\" refused: %2").arg(name, reason));
            else if (!reason.isEmpty())
                Add(true, at, QStringLiteral("rule \"%1\" refused: %2").arg(name, reason));
            continue;
        }
        ++next;
        CheckKeys(rule, at, kRuleKeys);
        CheckRuleSide(rule, at, QStringLiteral("incoming"));
        CheckRuleSide(rule, at, QStringLiteral("outgoing"));
        CheckSafe(rule, at);
        const QJsonValue value = rule.value(QStringLiteral("value_capture"));
        if (!value.isUndefined())
        {
            const QStringList captures = loaded.at(next - 1).GetCaptureLetters();
            const QString letters = value.toString();
            bool fine = value.isString() && !letters.isEmpty();
            for (const QChar letter : letters)
                fine = fine && captures.contains(QString(letter), Qt::CaseInsensitive);
            if (!fine)
                Add(false, cJsonPositions::Member(at, QStringLiteral("value_capture")),
                    QStringLiteral("rule \"%1\": \"value_capture\" must name capture letters of the incoming \"midi\" (%2)")
                        .arg(name, captures.isEmpty() ? QStringLiteral("it has none") : captures.join(QLatin1Char(' '))));
        }
    }
}

void cMapChecker::CheckRuleSide(const QJsonObject& Rule, const QString& Path, const QString& Side)
{
    const QString name = Rule.value(QStringLiteral("name")).toString();
    const QString at = cJsonPositions::Member(Path, Side);
    const bool incoming = Side == QLatin1String("incoming");
    const QJsonObject side = Rule.value(Side).toObject();
    CheckKeys(side, at, kSideKeys);
    const QString midi = side.value(QStringLiteral("midi")).toString();
    const QString midiPath = cJsonPositions::Member(at, QStringLiteral("midi"));
    if (incoming && cMIDITranslatorRule::SplitMidi(midi).isEmpty())
        Add(false, midiPath, QStringLiteral("rule \"%1\": the incoming \"midi\" is empty: the rule never fires").arg(name));
    for (const QString& token : cMIDITranslatorRule::SplitMidi(midi))
        if (token.contains(QLatin1Char('O')) || token.contains(QLatin1Char('o')))
            Add(false, midiPath,
                QStringLiteral("rule \"%1\": in token \"%2\" the letter O is a capture, not a zero").arg(name, token));

    const QJsonArray ports = side.value(QStringLiteral("ports")).toArray();
    const QString portsPath = cJsonPositions::Member(at, QStringLiteral("ports"));
    QStringList names;
    QSet<QString> resolved;
    for (int i = 0; i < ports.size(); ++i)
    {
        if (!ports.at(i).isString())
        {
            Add(false, cJsonPositions::Element(portsPath, i),
                QStringLiteral("rule \"%1\": a port name is %2, not a string: skipped").arg(name, TypeName(ports.at(i))));
            continue;
        }
        const QString port = ports.at(i).toString();
        names << port;
        const QString target = incoming ? mConfiguration->ResolveInputAlias(port) : mConfiguration->ResolveOutputAlias(port);
        if (resolved.contains(target))
            Add(false, cJsonPositions::Element(portsPath, i),
                QStringLiteral("rule \"%1\": port \"%2\" is named twice: the rule fires twice").arg(name, port));
        resolved.insert(target);
        bool alias = false;
        for (const auto& entry : incoming ? mInputAliases : mOutputAliases)
            alias = alias || entry.first == port;
        if (!alias && !mVirtualPorts.contains(port) && port != kTcpPortName)
            Add(false, cJsonPositions::Element(portsPath, i),
                QStringLiteral("rule \"%1\": %2 port \"%3\" is no virtual port or %2 alias of this map; only a system "
                               "MIDI device of exactly that name would %4")
                    .arg(name, incoming ? QStringLiteral("input") : QStringLiteral("output"), port,
                         incoming ? QStringLiteral("fire it") : QStringLiteral("receive its bytes")));
    }
    // A rule that only remembers a value (a zone that later messages refer to) sends nothing.
    const bool remembersOnly = !incoming && Rule.contains(QStringLiteral("remember")) && cMIDITranslatorRule::SplitMidi(midi).isEmpty();
    if (names.isEmpty() && !remembersOnly)
        Add(false, ports.isEmpty() && !side.value(QStringLiteral("ports")).isArray() ? at : portsPath,
            incoming ? QStringLiteral("rule \"%1\" reads no port: it never fires").arg(name)
                     : QStringLiteral("rule \"%1\" writes to no port: its bytes go nowhere").arg(name));
}

void cMapChecker::CheckMixerMap(const QJsonObject& Top)
{
    // The program's own reading of the index, for what it makes of it.
    cMixerDawMap index;
    index.Load(mPath);
    const QStringList held = index.GetMixerNames();

    CheckKeys(Top, QStringLiteral("$"), kMixerMapKeys);
    const QString path = QStringLiteral("$.mixers");
    const QJsonValue mixers = Top.value(QStringLiteral("mixers"));
    if (!mixers.isArray())
    {
        Add(false, path, QStringLiteral("is %1, not an array: no family is offered").arg(TypeName(mixers)));
        return;
    }
    const QDir folder = QFileInfo(mPath).absoluteDir();
    QSet<QString> seen;
    const QJsonArray families = mixers.toArray();
    for (int i = 0; i < families.size(); ++i)
    {
        const QString at = cJsonPositions::Element(path, i);
        const QJsonObject family = families.at(i).toObject();
        if (!families.at(i).isObject())
        {
            Add(false, at, QStringLiteral("is %1, not a family object: skipped").arg(TypeName(families.at(i))));
            continue;
        }
        CheckKeys(family, at, kFamilyKeys);
        const QString name = family.value(QStringLiteral("name")).toString();
        if (name.isEmpty())
        {
            Add(false, at, QStringLiteral("a family without a \"name\" string is dropped"));
            continue;
        }
        if (seen.contains(name))
            Add(false, cJsonPositions::Member(at, QStringLiteral("name")),
                QStringLiteral("family \"%1\" is named twice: only this later one is offered").arg(name));
        seen.insert(name);
        const QJsonValue find = family.value(QStringLiteral("find"));
        const QString findText = find.isString() ? find.toString() : cMixerDawMap::FindStringByName(name);
        if (findText.isEmpty())
            Add(false, cJsonPositions::Member(at, QStringLiteral("name")),
                QStringLiteral("family \"%1\" contains none of \"Ny\", \"KRT\", \"Oskel\": no console of it is found on the network").arg(name));
        const QJsonArray daws = family.value(QStringLiteral("daws")).toArray();
        if (daws.isEmpty())
            Add(false, at, QStringLiteral("family \"%1\" offers no DAW protocol").arg(name));
        QStringList protocols;
        for (int d = 0; d < daws.size(); ++d)
        {
            const QString dawAt = cJsonPositions::Element(cJsonPositions::Member(at, QStringLiteral("daws")), d);
            const QJsonObject daw = daws.at(d).toObject();
            CheckKeys(daw, dawAt, kDawKeys);
            const QString protocol = daw.value(QStringLiteral("name")).toString();
            const QString file = daw.value(QStringLiteral("file")).toString();
            if (protocol.isEmpty() || file.isEmpty())
            {
                Add(false, dawAt, QStringLiteral("family \"%1\": an entry without a \"name\" and a \"file\" string is dropped").arg(name));
                continue;
            }
            if (protocols.contains(protocol))
                Add(false, dawAt, QStringLiteral("family \"%1\" offers \"%2\" twice: the first entry's file is used").arg(name, protocol));
            protocols << protocol;
            if (!QFileInfo(folder.filePath(file)).isFile())
                Add(true, cJsonPositions::Member(dawAt, QStringLiteral("file")),
                    QStringLiteral("family \"%1\", \"%2\": map file \"%3\" is not in %4").arg(name, protocol, file, folder.path()));
        }
        mFamilies << qMakePair(QStringLiteral("%1 (%2)").arg(name, findText.isEmpty() ? QStringLiteral("not discoverable") : findText),
                               held.contains(name) ? index.GetDAWNames(name) : QStringList());
    }
}

QString cMapChecker::Summary() const
{
    if (!mFamilies.isEmpty())
    {
        QString text = QStringLiteral("%1: %2 console families\n").arg(mPath).arg(mFamilies.size());
        for (const auto& family : mFamilies)
            text += QStringLiteral("  family %1: %2\n").arg(family.first, family.second.join(QStringLiteral(", ")));
        return text;
    }
    if (!mConfiguration)
        return QString();
    QString text;
    const QStringList ports = mConfiguration->GetVirtualPortNames();
    const QList<cMIDITranslatorVariable>& variables = mConfiguration->GetVariables();
    const QList<cMIDITranslatorRule>& rules = mConfiguration->GetRules();
    text += QStringLiteral("%1: %2 virtual ports, %3 aliases, %4 variables, %5 rules\n")
                .arg(mPath)
                .arg(ports.size())
                .arg(mInputAliases.size() + mOutputAliases.size())
                .arg(variables.size())
                .arg(rules.size());
    for (const QString& port : ports)
        text += QStringLiteral("  virtual port \"%1\"\n").arg(port);
    for (const auto& alias : mInputAliases)
        text += QStringLiteral("  input alias \"%1\" -> \"%2\"\n").arg(alias.first, mConfiguration->ResolveInputAlias(alias.first));
    for (const auto& alias : mOutputAliases)
        text += QStringLiteral("  output alias \"%1\" -> \"%2\"\n").arg(alias.first, mConfiguration->ResolveOutputAlias(alias.first));
    for (const cMIDITranslatorVariable& variable : variables)
        text += QStringLiteral("  variable \"%1\" (*%2) = %3, %4 allowed values\n")
                    .arg(variable.GetName(), variable.GetVariableName())
                    .arg(variable.GetValue())
                    .arg(variable.GetValues().size());
    for (const cMIDITranslatorRule& rule : rules)
        text += QStringLiteral("  rule %1 \"%2\": %3 -> %4%5\n")
                    .arg(rule.GetId())
                    .arg(rule.GetName(), rule.GetIncomingPorts().join(QStringLiteral(", ")),
                         rule.GetOutgoingPorts().join(QStringLiteral(", ")), OptionsText(mConfiguration->GetRuleObject(rule.GetId())));
    for (const QString& announcement : mAnnouncements)
        text += QStringLiteral("  announcement %1\n").arg(announcement);
    return text;
}

bool cMapChecker::SetChannel(int Channel)
{
    if (!mConfiguration)
        return false;
    bool found = false;
    for (const cMIDITranslatorVariable& variable : QList<cMIDITranslatorVariable>(mConfiguration->GetVariables()))
        if (variable.GetName() == kChannelVariable)
        {
            mConfiguration->SetVariableValue(variable.GetVariableName(), uint8_t(Channel));
            found = true;
        }
    return found;
}

bool cMapChecker::Translate(const QString& Port, const QByteArray& Bytes, QList<QPair<QString, QByteArray>>& Outputs)
{
    Outputs.clear();
    if (!mConfiguration)
        return false;
    cRecordingMIDIPort* input = mRegistry->RecordingPort(mConfiguration->ResolveInputAlias(Port));
    if (!input)
        return false;
    QStringList names = mConfiguration->GetVirtualPortNames();
    names << kTcpPortName;
    names.removeDuplicates();
    for (const QString& name : names)
        if (cRecordingMIDIPort* port = mRegistry->RecordingPort(name))
            port->ClearWritten();
    input->Receive(Bytes);
    // A gesture's end comes after its quiet time: wait for the longest one.
    int quiet = 0;
    for (const cMIDITranslatorRule& rule : mConfiguration->GetRules())
        quiet = qMax(quiet, rule.GetOptions() && rule.GetOptions()->mHasGesture ? rule.GetOptions()->mQuietMs : 0);
    if (quiet > 0)
    {
        QEventLoop loop;
        QTimer::singleShot(quiet + 20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    for (const QString& name : names)
        if (cRecordingMIDIPort* port = mRegistry->RecordingPort(name))
            Outputs << qMakePair(name, port->Written());
    return true;
}

void cMapChecker::CheckAnnouncements(const QJsonValue& Value, QStringList& Rejections)
{
    mAnnouncements.clear();
    const QString path = QStringLiteral("$.announcements");
    if (!Value.isUndefined() && !Value.isArray())
        Add(false, path, QStringLiteral("is %1, not an array: nothing is announced").arg(TypeName(Value)));
    const QJsonArray announcements = Value.toArray();
    for (int i = 0; i < announcements.size(); ++i)
    {
        const QString at = cJsonPositions::Element(path, i);
        if (!announcements.at(i).isObject())
        {
            Add(false, at, QStringLiteral("is %1, not an announcement object: skipped").arg(TypeName(announcements.at(i))));
            continue;
        }
        const QJsonObject announcement = announcements.at(i).toObject();
        const QString name = announcement.value(QStringLiteral("name")).toString();
        const QString prefix = QStringLiteral("Invalid announcement \"%1\"").arg(name);
        int refused = -1;
        for (int r = 0; r < Rejections.size() && refused < 0; ++r)
            refused = Rejections.at(r).startsWith(prefix) ? r : -1;
        if (refused >= 0)
        {
            const QString reason = Rejections.takeAt(refused);
            QString key = QStringLiteral("when");
            for (const QString& candidate : {QStringLiteral("midi"), QStringLiteral("ports")})
                if (reason.contains(QStringLiteral("\"%1\" must").arg(candidate)))
                    key = candidate;
            Add(true, announcement.contains(key) ? cJsonPositions::Member(at, key) : at, QStringLiteral("announcement refused: %1").arg(reason));
            continue;
        }
        CheckKeys(announcement, at, kAnnouncementKeys);
        const QJsonArray ports = announcement.value(QStringLiteral("ports")).toArray();
        QStringList names;
        for (int p = 0; p < ports.size(); ++p)
        {
            const QString port = ports.at(p).toString();
            bool alias = false;
            for (const auto& entry : mOutputAliases)
                alias = alias || entry.first == port;
            if (!alias && !mVirtualPorts.contains(port) && port != kTcpPortName)
                Add(false, cJsonPositions::Element(cJsonPositions::Member(at, QStringLiteral("ports")), p),
                    QStringLiteral("announcement \"%1\": port \"%2\" is no virtual port or output alias of this map").arg(name, port));
            names << port;
        }
        if (names.isEmpty())
            Add(false, at, QStringLiteral("announcement \"%1\" goes to no port").arg(name));
        mAnnouncements << QStringLiteral("\"%1\" when %2: %3 -> %4%5")
                              .arg(name, announcement.value(QStringLiteral("when")).toString(),
                                   announcement.value(QStringLiteral("midi")).toString(), names.join(QStringLiteral(", ")),
                                   announcement.value(QStringLiteral("needs_console")).toBool() ? QStringLiteral(" [needs the console]") : QString());
    }

    // A condition on a slot that no rule fills never holds.
    QSet<QString> filled;
    for (const cMIDITranslatorRule& rule : mConfiguration->GetRules())
        if (rule.GetOptions() && !rule.GetOptions()->mRememberSlot.isEmpty())
            filled.insert(rule.GetOptions()->mRememberSlot);
    for (const cMIDITranslatorRule& rule : mConfiguration->GetRules())
        if (rule.GetOptions() && !rule.GetOptions()->mRequiredSlot.isEmpty() && !filled.contains(rule.GetOptions()->mRequiredSlot))
            Add(false, QString(), QStringLiteral("rule \"%1\": no rule remembers the slot \"%2\": it never fires")
                                      .arg(rule.GetName(), rule.GetOptions()->mRequiredSlot));
}

// The console lock lets a rule marked "safe" through; a fader or a mute must never be.
void cMapChecker::CheckSafe(const QJsonObject& Rule, const QString& Path)
{
    const QJsonValue safe = Rule.value(cConsoleLockPolicy::SafeKey());
    if (safe.isUndefined())
        return;
    const QString name = Rule.value(QStringLiteral("name")).toString();
    const QString at = cJsonPositions::Member(Path, cConsoleLockPolicy::SafeKey());
    if (!safe.isBool())
        Add(false, at, QStringLiteral("rule \"%1\": \"safe\" is %2, not true or false: the rule is not safe").arg(name, TypeName(safe)));
    else if (safe.toBool() && cConsoleLockPolicy::IsFaderOrMute(Rule))
        Add(true, at, QStringLiteral("rule \"%1\" moves a fader or a mute and is never safe: the locked console holds it back").arg(name));
}
