// src/i18n/i18n.hpp: the language of the interface. Every text the user sees is written in
// English and passed through i18n_tr; French, Spanish, German and Italian come from the
// translation assets "lang/<code>.json", each read once, on first selection.
#pragma once

// Marks an English text that reaches i18n_tr later through a variable (a table of captions,
// say), so the translation check finds it. It is the text itself.
#define I18N_TEXT(text) (text)

// Selects the language of code ("fr", "de_AT", ...; null or empty: the system language) and
// returns the code now in use: "en", "fr", "es", "de" or "it", never null. A language that is
// not known, or whose file cannot be read, gives English.
const char *i18n_set_language(const char *code);

// The code now in use.
const char *i18n_language();

// The translation of key in the current language, or key itself when there is none; null for
// null. The result stays valid until i18n_shutdown.
const char *i18n_tr(const char *key);

// Writes the current language's decimal separator into the numbers of text, in place: in
// French, Spanish, German and Italian every point between two digits becomes a comma. printf
// always writes a point, whatever the language shown, so a text formatted from a translation
// goes through here before it is shown.
void i18n_decimals(char *text);

// Frees every loaded translation; English is current again.
void i18n_shutdown();
