#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

// The tray glyph for each state: a solid shield with a keyhole while connected, the empty
// outline of the same shield otherwise. The shapes tell the states apart at any size and on
// any panel, without leaning on a faded colour.
enum class StatusGlyph { Connected, Disconnected };

// Theme names of the two glyphs, installed in hicolor: hosts that load icons by name recolour
// -symbolic icons in the panel's own text colour.
QString statusThemeName(StatusGlyph glyph);

// The colour for hosts that show our pixels as they are. GNOME's top bar is dark whatever the
// theme, so light there; elsewhere the panel follows the desktop's colours, and so does the
// palette's window text.
QColor statusGlyphColour(const QString &currentDesktop, const QColor &windowText);

// The glyph drawn in `colour`, rendered on first use at each size asked for and then kept, so
// that showing it again costs nothing. `themeName`, when not empty, is what the icon answers
// to QIcon::name(), for hosts that prefer to load it from the icon theme.
QIcon statusIcon(StatusGlyph glyph, const QColor &colour, const QString &themeName = QString());
