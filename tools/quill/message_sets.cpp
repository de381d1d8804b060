#include "message_sets.h"

#include <ctype.h>

#include "archive/messages.h"
#include "uninstall.h"

const std::vector<MessageLanguage>& MessageLanguages()
{
    static const std::vector<MessageLanguage> languages = {
        {"english", 1252}, {"german", 1252}, {"french", 1252}, {"russian", 1251}};
    return languages;
}

const MessageLanguage* FindLanguage(const std::string& name)
{
    for (const MessageLanguage& language : MessageLanguages())
        if (name == language.name)
            return &language;
    return nullptr;
}

// Translations keep the English set's placeholders in the same order; 114 is the
// system's own name and 120 stays empty as in English.
static const MessageList german = {{
    "Achtung", "Abbrechen", "Verzeichnis wählen", "Durchsuchen...", "Beenden",
    "Laufwerk %s kann nicht gelesen werden", "Verzeichnis %s kann nicht geöffnet werden",
    "Verzeichnis %s kann nicht angelegt werden", "OK", "Datei %s kann nicht geöffnet werden",
    "Fehler beim Schreiben der Datei %s", "Bestätigung", "Abbrechen", "Systemfehler",
    "Prozess %s kann nicht gestartet werden", "Fehler beim Lesen der Datei %s", "Fehler",
    "Installationsverzeichnis", "Programmgruppe anlegen", "Benötigt: %lu KByte", "Quillstead",
    "Installation abbrechen?", "Wollen Sie wirklich nicht installieren?",
    "Installation erfolgreich abgeschlossen", "Bitte Diskette %i einlegen",
    "Falsche Struktur des Archivs %s", "",
    "Sie haben %lu KByte frei, benötigt werden aber %lu KByte.",
}};

static const MessageList french = {{
    "Attention", "Annuler", "Choisir un répertoire", "Parcourir...", "Quitter",
    "Impossible de lire le disque %s", "Impossible d'ouvrir le répertoire %s",
    "Impossible de créer le répertoire %s", "OK", "Impossible d'ouvrir le fichier %s",
    "Erreur d'écriture dans le fichier %s", "Confirmation", "Interrompre", "Erreur système",
    "Impossible de lancer le processus %s", "Erreur de lecture du fichier %s", "Erreur",
    "Répertoire d'installation", "Créer un groupe de programmes", "Espace requis : %lu Ko",
    "Quillstead", "Interrompre l'installation ?",
    "Voulez-vous vraiment renoncer à l'installation ?", "Installation terminée avec succès",
    "Insérez la disquette %i", "Structure incorrecte de l'archive %s", "",
    "Vous avez %lu Ko d'espace libre, mais il en faut %lu Ko.",
}};

static const MessageList russian = {{
    "Внимание", "Отмена", "Выбор каталога", "Обзор...", "Выход",
    "Не удается прочитать диск %s", "Не удается открыть каталог %s",
    "Не удается создать каталог %s", "OK", "Не удается открыть файл %s",
    "Ошибка записи в файл %s", "Подтверждение", "Прервать", "Системная ошибка",
    "Не удается запустить процесс %s", "Ошибка чтения файла %s", "Ошибка",
    "Каталог установки", "Создать группу программ", "Требуется %lu Кбайт", "Quillstead",
    "Прервать установку?", "Вы действительно не хотите устанавливать?",
    "Установка успешно завершена", "Вставьте диск %i", "Неверная структура архива %s", "",
    "Свободно %lu Кбайт, а требуется %lu Кбайт.",
}};

MessageList MessageSetUtf8(const std::string& language)
{
    if (language == "german")
        return german;
    if (language == "french")
        return french;
    if (language == "russian")
        return russian;
    return EnglishMessages();  // plain ASCII: the same bytes in every code page
}

// The uninstaller's texts: 200 caption, 201 the question, 202 done, 203 done with files
// kept (their list follows), 204 the log (its name) missing or damaged, 205 already
// removed, 206 a failure's caption.
static const std::vector<std::string> englishTexts = {
    "Uninstall %s",
    "Do you want to remove %s and all of its files?",
    "%s has been removed.",
    "%s has been removed. These files were changed or added after the install and have been kept:",
    "The install log %s is missing or damaged. Nothing has been removed.",
    "%s has already been removed.",
    "Can't remove %s",
};

static const std::vector<std::string> germanTexts = {
    "%s deinstallieren",
    "Möchten Sie %s und alle zugehörigen Dateien entfernen?",
    "%s wurde entfernt.",
    "%s wurde entfernt. Diese Dateien wurden nach der Installation geändert oder hinzugefügt und "
    "sind erhalten geblieben:",
    "Das Installationsprotokoll %s fehlt oder ist beschädigt. Es wurde nichts entfernt.",
    "%s wurde bereits entfernt.",
    "%s kann nicht entfernt werden",
};

static const std::vector<std::string> frenchTexts = {
    "Désinstaller %s",
    "Voulez-vous supprimer %s et tous ses fichiers ?",
    "%s a été supprimé.",
    "%s a été supprimé. Ces fichiers ont été modifiés ou ajoutés après l'installation et ont été "
    "conservés :",
    "Le journal d'installation %s est absent ou endommagé. Rien n'a été supprimé.",
    "%s a déjà été supprimé.",
    "Impossible de supprimer %s",
};

static const std::vector<std::string> russianTexts = {
    "Удаление %s",
    "Удалить %s и все его файлы?",
    "Программа %s удалена.",
    "Программа %s удалена. Эти файлы были изменены или добавлены после установки и сохранены:",
    "Журнал установки %s отсутствует или поврежден. Ничего не удалено.",
    "Программа %s уже удалена.",
    "Не удается удалить %s",
};

std::string ShortcutTextUtf8(const std::string& language)
{
    if (language == "german")
        return "Die Verknüpfung %s kann nicht erstellt werden.";
    if (language == "french")
        return "Impossible de créer le raccourci %s.";
    if (language == "russian")
        return "Не удается создать ярлык %s.";
    return "The shortcut %s cannot be created.";
}

std::vector<std::string> UninstallTextsUtf8(const std::string& language)
{
    if (language == "german")
        return germanTexts;
    if (language == "french")
        return frenchTexts;
    if (language == "russian")
        return russianTexts;
    return englishTexts;
}

static PlaceholderKind KindOf(int id)
{
    if (IsAdditionText(id))
        return PLACEHOLDERS_STRING;
    return MessagePlaceholders(id);
}

static std::string Expected(int id)
{
    switch (KindOf(id)) {
    case PLACEHOLDERS_STRING:
        return "one %s";
    case PLACEHOLDERS_KILOBYTES:
        return "one %lu";
    case PLACEHOLDERS_VOLUME:
        return "one %i";
    case PLACEHOLDERS_FREE_NEEDED:
        return "two %lu";
    default:
        return "no placeholder";
    }
}

static std::vector<std::string> Required(int id)
{
    switch (KindOf(id)) {
    case PLACEHOLDERS_STRING:
        return {"%s"};
    case PLACEHOLDERS_KILOBYTES:
        return {"%lu"};
    case PLACEHOLDERS_VOLUME:
        return {"%i"};
    case PLACEHOLDERS_FREE_NEEDED:
        return {"%lu", "%lu"};
    default:
        return {};
    }
}

// One printf-style conversion at text[i] == '%', as wsprintfA would read it: flags, width,
// precision, an h or l, and the conversion letter. Returns its length, 0 if none. bare
// accepts no flags, width or precision: what a text shown unformatted may not contain.
static size_t ConversionLength(const std::string& text, size_t i, bool bare)
{
    size_t k = i + 1;
    if (!bare) {
        while (k < text.size() && std::string("-+ #0").find(text[k]) != std::string::npos)
            k++;
        while (k < text.size() && isdigit((unsigned char)text[k]))
            k++;
        if (k < text.size() && text[k] == '.') {
            k++;
            while (k < text.size() && isdigit((unsigned char)text[k]))
                k++;
        }
    }
    if (k < text.size() && (text[k] == 'l' || text[k] == 'h'))
        k++;
    if (k < text.size() && std::string("cCdiuxXsS").find(text[k]) != std::string::npos)
        return k + 1 - i;
    return 0;
}

std::string CheckMessagePlaceholders(int id, const std::string& text)
{
    std::vector<std::string> required = Required(id);
    bool formatted = !required.empty();
    std::vector<std::string> found;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] != '%')
            continue;
        if (formatted && i + 1 < text.size() && text[i + 1] == '%') {
            i++;
            continue;
        }
        size_t length = ConversionLength(text, i, !formatted);
        if (length) {
            found.push_back(text.substr(i, length));
            i += length - 1;
        } else if (formatted) {
            // wsprintfA would take it for a placeholder all the same.
            return "a lone \"%\" (write \"%%\" for a percent sign); the text needs " + Expected(id);
        }
    }
    if (found != required) {
        std::string got = found.empty() ? "none" : "";
        for (size_t k = 0; k < found.size(); k++)
            got += (k ? ", " : "") + found[k];
        return "has placeholders " + got + " but needs " + Expected(id);
    }
    return "";
}

std::string CheckStoredMessage(int id, const std::string& stored)
{
    if (stored.size() > MAX_MESSAGE_BYTES)
        return std::to_string(stored.size()) + " bytes once encoded; at most " +
               std::to_string(MAX_MESSAGE_BYTES) + " fit";
    if (id == SHIFTED_MESSAGE)
        for (unsigned char b : stored)
            if ((unsigned char)(b + MESSAGE_SHIFT) == 0)
                return "holds a character stored as byte " + std::to_string(b) +
                       ", which the stored form of this message turns into a NUL";
    return "";
}
