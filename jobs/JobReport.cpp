#include "jobs/JobReport.h"

#include <stdlib.h>

void JobReport::clear() {
    FailedEntry* entry = head;
    while (entry) {
        FailedEntry* next = entry->next;
        free(entry);
        entry = next;
    }
    head = nullptr;
    tail = nullptr;
    count_ = 0;
    entries_ = 0;
    converted_ = 0;
    declined_ = 0;
}

void JobReport::add(const char* name, EntryFailure failure, DWORD detail) {
    count_++;
    FailedEntry* entry = (FailedEntry*)calloc(1, sizeof(FailedEntry));
    if (!entry) {
        return;
    }
    if (name) {
        lstrcpynA(entry->name, name, MAX_PATH);
    }
    entry->failure = failure;
    entry->detail = detail;
    if (tail) {
        tail->next = entry;
    } else {
        head = entry;
    }
    tail = entry;
}

// The reason, followed by its detail when there is one.
static void withDetail(char* reason, const char* text, const char* detailFormat, DWORD detail) {
    lstrcpyA(reason, text);
    if (detail) {
        wsprintfA(reason + lstrlenA(reason), detailFormat, detail);
    }
}

void describeFailure(const FailedEntry* entry, char* text, int capacity) {
    if (!entry || !text || capacity <= 0) {
        return;
    }
    char reason[160];
    switch (entry->failure) {
    case FailSourceOpen:
        lstrcpyA(reason, "le fichier ne peut pas être ouvert");
        break;
    case FailNotUsableWav:
        lstrcpynA(reason, wavStatusText((WavStatus)entry->detail), sizeof(reason));
        break;
    case FailEncoderRefused:
        wsprintfA(reason, "l'encodeur refuse ces réglages (erreur %lu)", entry->detail);
        break;
    case FailReadError:
        withDetail(reason, "erreur de lecture", " au secteur %lu", entry->detail);
        break;
    case FailFileReadError:
        withDetail(reason, "erreur de lecture du fichier", " à l'octet %lu", entry->detail);
        break;
    case FailEncodeError:
        withDetail(reason, "erreur de l'encodeur", " (erreur %lu)", entry->detail);
        break;
    case FailWriteError:
        lstrcpyA(reason, "erreur d'écriture ou disque plein");
        break;
    case FailOutputCreate:
        lstrcpyA(reason, "le fichier MP3 ne peut pas être créé");
        break;
    case FailPathTooLong:
        lstrcpyA(reason, "le chemin du fichier MP3 est trop long");
        break;
    case FailOutOfMemory:
        lstrcpyA(reason, "mémoire insuffisante");
        break;
    case FailNoDrive:
        lstrcpyA(reason, "le lecteur de CD ne peut pas être ouvert");
        break;
    case FailNoToc:
        lstrcpyA(reason, "aucun disque lisible dans le lecteur");
        break;
    case FailTrackNotOnDisc:
        lstrcpyA(reason, "cette piste n'est pas sur le disque présent");
        break;
    case FailOutputIsSource:
        lstrcpyA(reason, "le fichier MP3 remplacerait le fichier source");
        break;
    default:
        lstrcpyA(reason, "échec de la conversion");
        break;
    }
    if (entry->name[0]) {
        char line[MAX_PATH + 200];
        wsprintfA(line, "%s : %s", entry->name, reason);
        lstrcpynA(text, line, capacity);
    } else {
        lstrcpynA(text, reason, capacity);
    }
}
