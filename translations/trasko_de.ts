<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>FailureList</name>
    <message>
        <source>File</source>
        <translation>Datei</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Reason</source>
        <translation>Grund</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>Kopieren</translation>
    </message>
    <message>
        <source>Tick or Untick</source>
        <translation>Häkchen setzen oder entfernen</translation>
    </message>
</context>
<context>
    <name>Formats</name>
    <message>
        <source>%1 day</source>
        <translation>%1 Tag</translation>
    </message>
    <message>
        <source>%1 hour</source>
        <translation>%1 Stunde</translation>
    </message>
    <message>
        <source>%1 minute</source>
        <translation>%1 Minute</translation>
    </message>
    <message>
        <source>%1 second</source>
        <translation>%1 Sekunde</translation>
    </message>
    <message>
        <source>%1 days</source>
        <translation>%1 Tage</translation>
    </message>
    <message>
        <source>%1 hours</source>
        <translation>%1 Stunden</translation>
    </message>
    <message>
        <source>%1 minutes</source>
        <translation>%1 Minuten</translation>
    </message>
    <message>
        <source>%1 seconds</source>
        <translation>%1 Sekunden</translation>
    </message>
</context>
<context>
    <name>JobFigures</name>
    <message>
        <source>%1 files (%2)</source>
        <translation>%1 Dateien (%2)</translation>
    </message>
    <message>
        <source>Unknown</source>
        <translation>Unbekannt</translation>
    </message>
    <message>
        <source>/sec</source>
        <translation>/s</translation>
    </message>
    <message>
        <source>0 Bytes/sec</source>
        <translation>0 Bytes/s</translation>
    </message>
    <message>
        <source>Operation cancelled</source>
        <translation>Vorgang abgebrochen</translation>
    </message>
    <message>
        <source>Operation complete</source>
        <translation>Vorgang abgeschlossen</translation>
    </message>
    <message>
        <source>Operation cancelled: %1 of %2 copies verified</source>
        <translation>Vorgang abgebrochen: %1 von %2 Kopien geprüft</translation>
    </message>
    <message>
        <source>Operation complete: 1 copy verified</source>
        <translation>Vorgang abgeschlossen: 1 Kopie geprüft</translation>
    </message>
    <message>
        <source>Operation complete: %1 copies verified</source>
        <translation>Vorgang abgeschlossen: %1 Kopien geprüft</translation>
    </message>
    <message>
        <source>%1 %2 copied and verified, %3 failed</source>
        <translation>%1 %2 kopiert und geprüft, %3 fehlgeschlagen</translation>
    </message>
    <message>
        <source>%1 %2 copied, %3 failed</source>
        <translation>%1 %2 kopiert, %3 fehlgeschlagen</translation>
    </message>
    <message>
        <source>file</source>
        <translation>Datei</translation>
    </message>
    <message>
        <source>files</source>
        <translation>Dateien</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Source Location</source>
        <translation>Quelle</translation>
    </message>
    <message>
        <source>Source folder</source>
        <translation>Quellordner</translation>
    </message>
    <message>
        <source>Choose source folder</source>
        <translation>Quellordner wählen</translation>
    </message>
    <message>
        <source>Destination Location</source>
        <translation>Ziel</translation>
    </message>
    <message>
        <source>Destination folder</source>
        <translation>Zielordner</translation>
    </message>
    <message>
        <source>Choose destination folder</source>
        <translation>Zielordner wählen</translation>
    </message>
    <message>
        <source>Overwrite Options</source>
        <translation>Überschreiben</translation>
    </message>
    <message>
        <source>No files</source>
        <translation>Keine Dateien</translation>
    </message>
    <message>
        <source>All files</source>
        <translation>Alle Dateien</translation>
    </message>
    <message>
        <source>Older files</source>
        <translation>Ältere Dateien</translation>
    </message>
    <message>
        <source>Smaller files</source>
        <translation>Kleinere Dateien</translation>
    </message>
    <message>
        <source>Include Options</source>
        <translation>Einbeziehen</translation>
    </message>
    <message>
        <source>Include sub-folders</source>
        <translation>Unterordner einbeziehen</translation>
    </message>
    <message>
        <source>Include hidden files</source>
        <translation>Versteckte Dateien einbeziehen</translation>
    </message>
    <message>
        <source>After the copy, read every copied file back from the device and compare it with its source</source>
        <translation>Nach dem Kopieren jede kopierte Datei vom Gerät zurücklesen und mit ihrer Quelle vergleichen</translation>
    </message>
    <message>
        <source>Verify copies</source>
        <translation>Kopien prüfen</translation>
    </message>
    <message>
        <source>Give every copy the modification time of its source, as a backup tool does</source>
        <translation>Jeder Kopie die Änderungszeit ihrer Quelle geben, wie es ein Sicherungsprogramm tut</translation>
    </message>
    <message>
        <source>Keep dates</source>
        <translation>Änderungsdatum beibehalten</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Starten</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Progress of the whole copy</source>
        <translation>Fortschritt des gesamten Kopiervorgangs</translation>
    </message>
    <message>
        <source>Progress of the current file</source>
        <translation>Fortschritt der aktuellen Datei</translation>
    </message>
    <message>
        <source>Status: </source>
        <translation>Status: </translation>
    </message>
    <message>
        <source>Waiting for user input.</source>
        <translation>Warte auf Eingabe.</translation>
    </message>
    <message>
        <source>More Information</source>
        <translation>Mehr Informationen</translation>
    </message>
    <message>
        <source>Time elapsed:</source>
        <translation>Verstrichene Zeit:</translation>
    </message>
    <message>
        <source>Time remaining:</source>
        <translation>Verbleibende Zeit:</translation>
    </message>
    <message>
        <source>Speed:</source>
        <translation>Geschwindigkeit:</translation>
    </message>
    <message>
        <source>Elapsed</source>
        <translation>Verstrichen</translation>
    </message>
    <message>
        <source>Remaining</source>
        <translation>Verbleibend</translation>
    </message>
    <message>
        <source>Speed</source>
        <translation>Geschwindigkeit</translation>
    </message>
    <message>
        <source>Processed:</source>
        <translation>Verarbeitet:</translation>
    </message>
    <message>
        <source>Total:</source>
        <translation>Gesamt:</translation>
    </message>
    <message>
        <source>Errors:</source>
        <translation>Fehler:</translation>
    </message>
    <message>
        <source>Processed</source>
        <translation>Verarbeitet</translation>
    </message>
    <message>
        <source>Total</source>
        <translation>Gesamt</translation>
    </message>
    <message>
        <source>Errors</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Copy Errors</source>
        <translation>Kopierfehler</translation>
    </message>
    <message>
        <source>Copy errors</source>
        <translation>Kopierfehler</translation>
    </message>
    <message>
        <source>The files that could not be copied, with the reason. Space ticks or unticks the selected rows; Retry tries the ticked ones again.</source>
        <translation>Die Dateien, die nicht kopiert werden konnten, mit dem Grund. Die Leertaste setzt oder entfernt das Häkchen der ausgewählten Zeilen; „Erneut versuchen“ versucht die angehakten noch einmal.</translation>
    </message>
    <message>
        <source>Select All</source>
        <translation>Alle auswählen</translation>
    </message>
    <message>
        <source>Deselect All</source>
        <translation>Alle abwählen</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Erneut versuchen</translation>
    </message>
    <message>
        <source>The source folder given does not exist.</source>
        <translation>Der angegebene Quellordner existiert nicht.</translation>
    </message>
    <message>
        <source>The destination folder given does not exist.</source>
        <translation>Der angegebene Zielordner existiert nicht.</translation>
    </message>
    <message>
        <source>The source given is not a folder.</source>
        <translation>Die angegebene Quelle ist kein Ordner.</translation>
    </message>
    <message>
        <source>The destination given is not a folder.</source>
        <translation>Das angegebene Ziel ist kein Ordner.</translation>
    </message>
    <message>
        <source>Copies a folder into another.</source>
        <translation>Kopiert einen Ordner in einen anderen.</translation>
    </message>
    <message>
        <source>Start copying at once (both folders needed).</source>
        <translation>Sofort mit dem Kopieren beginnen (beide Ordner nötig).</translation>
    </message>
    <message>
        <source>The folder to copy.</source>
        <translation>Der zu kopierende Ordner.</translation>
    </message>
    <message>
        <source>The folder to copy it into.</source>
        <translation>Der Ordner, in den kopiert wird.</translation>
    </message>
    <message>
        <source>Only a source and a destination folder can be given.</source>
        <translation>Nur ein Quell- und ein Zielordner können angegeben werden.</translation>
    </message>
    <message>
        <source>Not started: a source and a destination are needed.</source>
        <translation>Nicht gestartet: Quelle und Ziel werden benötigt.</translation>
    </message>
    <message>
        <source>Less Information</source>
        <translation>Weniger Informationen</translation>
    </message>
    <message>
        <source>Hide copy details</source>
        <translation>Kopierdetails ausblenden</translation>
    </message>
    <message>
        <source>Show copy details</source>
        <translation>Kopierdetails einblenden</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation>Pausieren</translation>
    </message>
    <message>
        <source>Resume</source>
        <translation>Fortsetzen</translation>
    </message>
    <message>
        <source>Target Location</source>
        <translation>Ziel</translation>
    </message>
    <message>
        <source>Operation paused</source>
        <translation>Vorgang angehalten</translation>
    </message>
    <message>
        <source>Operation restarting</source>
        <translation>Vorgang wird fortgesetzt</translation>
    </message>
    <message>
        <source>No Source</source>
        <translation>Keine Quelle</translation>
    </message>
    <message>
        <source>Please select a source folder location.</source>
        <translation>Bitte wählen Sie einen Quellordner.</translation>
    </message>
    <message>
        <source>No Destination</source>
        <translation>Kein Ziel</translation>
    </message>
    <message>
        <source>Please select a destination folder location.</source>
        <translation>Bitte wählen Sie einen Zielordner.</translation>
    </message>
    <message>
        <source>Invalid Destination</source>
        <translation>Ungültiges Ziel</translation>
    </message>
    <message>
        <source>The destination location cannot be inside the source location.</source>
        <translation>Das Ziel darf nicht innerhalb der Quelle liegen.</translation>
    </message>
    <message>
        <source>Copy in progress</source>
        <translation>Kopiervorgang läuft</translation>
    </message>
    <message>
        <source>The copy has not finished. If you cancel it, the files copied so far stay and the file being copied is left as it was.</source>
        <translation>Der Kopiervorgang ist nicht beendet. Wenn Sie ihn abbrechen, bleiben die bisher kopierten Dateien erhalten, und die Datei, die gerade kopiert wird, bleibt, wie sie war.</translation>
    </message>
    <message>
        <source>Keep copying</source>
        <translation>Weiter kopieren</translation>
    </message>
    <message>
        <source>Cancel the copy and close</source>
        <translation>Kopieren abbrechen und schließen</translation>
    </message>
    <message>
        <source>Operation cancelling</source>
        <translation>Vorgang wird abgebrochen</translation>
    </message>
    <message>
        <source>Select Files</source>
        <translation>Dateien auswählen</translation>
    </message>
    <message>
        <source>Please select files to retry.</source>
        <translation>Bitte wählen Sie die Dateien für einen neuen Versuch.</translation>
    </message>
    <message>
        <source>Copying: </source>
        <translation>Kopiere: </translation>
    </message>
    <message>
        <source>Looking at the room at the destination…</source>
        <translation>Prüfe freien Speicherplatz am Ziel…</translation>
    </message>
    <message>
        <source>Cancelling: writing what was copied to the destination…</source>
        <translation>Abbruch: das bisher Kopierte wird ans Ziel geschrieben…</translation>
    </message>
    <message>
        <source>Writing to the destination… The window closes once the data is written.</source>
        <translation>Schreibe ans Ziel… Das Fenster schließt sich, sobald die Daten geschrieben sind.</translation>
    </message>
    <message>
        <source>Writing to the destination…</source>
        <translation>Schreibe ans Ziel…</translation>
    </message>
    <message>
        <source>Verifying…</source>
        <translation>Prüfe…</translation>
    </message>
    <message>
        <source>Not enough room</source>
        <translation>Nicht genug Platz</translation>
    </message>
    <message>
        <source>This copy needs %1; the destination has %2 free.</source>
        <translation>Dieser Kopiervorgang braucht %1; am Ziel sind %2 frei.</translation>
    </message>
    <message>
        <source>Copy anyway</source>
        <translation>Trotzdem kopieren</translation>
    </message>
</context>
<context>
    <name>Reasons</name>
    <message>
        <source>The destination folder is a folder being copied</source>
        <translation>Der Zielordner ist ein Ordner, der gerade kopiert wird</translation>
    </message>
    <message>
        <source>The file became shorter while it was copied</source>
        <translation>Die Datei wurde während des Kopierens kürzer</translation>
    </message>
    <message>
        <source>The file changed while it was copied</source>
        <translation>Die Datei hat sich während des Kopierens geändert</translation>
    </message>
    <message>
        <source>The file does not lie in the source folder</source>
        <translation>Die Datei liegt nicht im Quellordner</translation>
    </message>
    <message>
        <source>Link to a folder that holds the source: not followed</source>
        <translation>Verknüpfung zu einem Ordner, der die Quelle enthält: nicht gefolgt</translation>
    </message>
    <message>
        <source>A folder that holds the source, mounted inside it: not copied</source>
        <translation>Ein Ordner, der die Quelle enthält, in ihr eingehängt: nicht kopiert</translation>
    </message>
    <message>
        <source>Link to a folder that holds the destination: not followed</source>
        <translation>Verknüpfung zu einem Ordner, der das Ziel enthält: nicht gefolgt</translation>
    </message>
    <message>
        <source>Link into the destination: not followed</source>
        <translation>Verknüpfung in das Ziel: nicht gefolgt</translation>
    </message>
    <message>
        <source>The copy on the device differs from the source</source>
        <translation>Die Kopie auf dem Gerät weicht von der Quelle ab</translation>
    </message>
    <message>
        <source>Too large for the destination&apos;s file system (FAT32 holds files under 4 GB)</source>
        <translation>Zu groß für das Dateisystem des Ziels (FAT32 fasst Dateien unter 4 GB)</translation>
    </message>
    <message>
        <source>Not a regular file: pipe</source>
        <translation>Keine normale Datei: Pipe</translation>
    </message>
    <message>
        <source>Not a regular file: socket</source>
        <translation>Keine normale Datei: Socket</translation>
    </message>
    <message>
        <source>Not a regular file: character device</source>
        <translation>Keine normale Datei: zeichenorientiertes Gerät</translation>
    </message>
    <message>
        <source>Not a regular file: block device</source>
        <translation>Keine normale Datei: blockorientiertes Gerät</translation>
    </message>
    <message>
        <source>Broken link</source>
        <translation>Defekte Verknüpfung</translation>
    </message>
    <message>
        <source>Not a regular file</source>
        <translation>Keine normale Datei</translation>
    </message>
    <message>
        <source>Source file could not be opened</source>
        <translation>Quelldatei konnte nicht geöffnet werden</translation>
    </message>
    <message>
        <source>Target file could not be opened</source>
        <translation>Zieldatei konnte nicht geöffnet werden</translation>
    </message>
    <message>
        <source>Source file could not be read</source>
        <translation>Quelldatei konnte nicht gelesen werden</translation>
    </message>
    <message>
        <source>Target file could not be written</source>
        <translation>Zieldatei konnte nicht geschrieben werden</translation>
    </message>
    <message>
        <source>Target file could not be removed</source>
        <translation>Zieldatei konnte nicht entfernt werden</translation>
    </message>
    <message>
        <source>Target file could not be replaced</source>
        <translation>Zieldatei konnte nicht ersetzt werden</translation>
    </message>
    <message>
        <source>Unknown error</source>
        <translation>Unbekannter Fehler</translation>
    </message>
</context>
<context>
    <name>SleepInhibitor</name>
    <message>
        <source>Copying files</source>
        <translation>Dateien werden kopiert</translation>
    </message>
</context>
</TS>
