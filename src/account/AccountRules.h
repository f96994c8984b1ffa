#pragma once

#include <QString>

// The local checks of the account forms. Each returns the message to show for the first check
// that fails, or the empty text when the input may be sent. Inputs are taken as typed; the
// checks trim them.
class AccountRules
{
public:
    static constexpr int minPasswordLength = 6;
    static constexpr int maxPasswordLength = 20;
    // The longest user name, in bytes of UTF-8.
    static constexpr int maxNameBytes = 64;

    static QString registrationProblem(const QString& name, const QString& password,
                                       const QString& confirmation, const QString& nameHint,
                                       const QString& pwdHint);
    static QString passwordChangeProblem(const QString& oldPassword, const QString& newPassword,
                                         const QString& confirmation, const QString& pwdHint);

    // Whether a text can serve as one folder name on Windows and Linux: a user name names the
    // user's folder and avatar file, so it must not climb out of the user root, hold a
    // character Windows refuses or a control or direction mark, end with a dot or blank, be a
    // device name ("CON", "COM1"), or be longer than maxNameBytes. Names that pass keep their
    // folder as they are: nothing is rewritten, so a stored folder never moves.
    static bool isPlainName(const QString& name);

private:
    static bool missing(const QString& text, const QString& hint);
    static bool badLength(const QString& text);
};
