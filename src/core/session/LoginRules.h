// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// What the login dialog makes of a name and a password.
enum class LoginCheck { MissingName, MissingPassword, Accepted };

// The four names that log in without a password, compared exactly.
bool isAnonymousName(const QString &name);
LoginCheck checkLogin(const QString &name, const QString &password);
