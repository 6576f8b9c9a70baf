#pragma once

#include <QString>

// The login password is never stored as typed: SysSet.PassWord holds
// "pbkdf2-sha256$<iterations>$<salt>$<key>" (salt and key in Base64), a
// salted, slow derivation that names its own cost, so a stored hash keeps
// working when the cost of new ones rises. Files from older versions hold
// the password as plain text; it is still accepted and then replaced.
constexpr int kPasswordIterations = 600000;

// A new hash of the password, with a fresh random salt.
QString HashPassword(const QString& password);
// Whether a stored text is a hash of this kind (and not a plain password).
bool IsPasswordHash(const QString& stored);
// The cost a stored hash was made with; 0 for anything else.
int PasswordHashIterations(const QString& stored);
// Whether the typed text is the stored password: by its hash, or, for an
// older file, as typed.
bool PasswordMatches(const QString& stored, const QString& typed);

// The cost of the hashes made from now on. Tests lower it to keep their
// run short; the program itself never calls it.
void SetNewPasswordIterations(int iterations);
