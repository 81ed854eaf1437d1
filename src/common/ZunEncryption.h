#pragma once
// The reversible keyed scrambler that keeps the POP3 password out of the settings
// file in clear: 2 + 2n upper-case hexadecimal digits for n characters, starting with
// a random starting value.

#include <QObject>
#include <QString>

enum TActionType { atEncryption, atDecryption };

class TZunEncryption : public QObject {
    Q_OBJECT
public:
    explicit TZunEncryption(QObject *parent = nullptr);

    QString Input() const { return FInput; }
    void setInput(const QString &v) { if (v != FInput) FInput = v; }
    QString Key() const { return FKey; }
    void setKey(const QString &v) { if (v != FKey) FKey = v; }
    QString Output() const { return FOutput; }
    void setOutput(const QString &v) { if (v != FOutput) FOutput = v; }
    TActionType Action() const { return FAction; }
    void setAction(TActionType v) { if (v != FAction) FAction = v; }

    // Runs the component: Output = scrambled or unscrambled Input (empty for empty
    // Input). Unscrambling a damaged text raises platform::Error.
    void Execute();

    // Scrambles `text` with the built-in key.
    QString EncryptText(const QString &text);
    // Unscrambles `text` with the built-in key; any failure of the run yields the
    // empty text (a damaged stored password reads as empty).
    QString DecryptText(const QString &text);

    // The built-in 16-letter key, built anew from its table on every call.
    static QString BuiltInKey();

private:
    QString FInput, FKey, FOutput;
    TActionType FAction = atEncryption;
};
