#pragma once

#include <QString>

// Writes the answer and one line feed to standard output, then overwrites the answer and the
// encoded copy made for writing. Returns whether everything was written.
bool writeAnswerAndWipe(QString &answer);
