<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr">
<context>
    <name>FailureList</name>
    <message>
        <source>File</source>
        <translation>Fichier</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Erreur</translation>
    </message>
    <message>
        <source>Reason</source>
        <translation>Raison</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>Copier</translation>
    </message>
    <message>
        <source>Tick or Untick</source>
        <translation>Cocher ou décocher</translation>
    </message>
</context>
<context>
    <name>Formats</name>
    <message>
        <source>%1 day</source>
        <translation>%1 jour</translation>
    </message>
    <message>
        <source>%1 hour</source>
        <translation>%1 heure</translation>
    </message>
    <message>
        <source>%1 minute</source>
        <translation>%1 minute</translation>
    </message>
    <message>
        <source>%1 second</source>
        <translation>%1 seconde</translation>
    </message>
    <message>
        <source>%1 days</source>
        <translation>%1 jours</translation>
    </message>
    <message>
        <source>%1 hours</source>
        <translation>%1 heures</translation>
    </message>
    <message>
        <source>%1 minutes</source>
        <translation>%1 minutes</translation>
    </message>
    <message>
        <source>%1 seconds</source>
        <translation>%1 secondes</translation>
    </message>
</context>
<context>
    <name>JobFigures</name>
    <message>
        <source>%1 files (%2)</source>
        <translation>%1 fichiers (%2)</translation>
    </message>
    <message>
        <source>Unknown</source>
        <translation>Inconnu</translation>
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
        <translation>Opération annulée</translation>
    </message>
    <message>
        <source>Operation complete</source>
        <translation>Opération terminée</translation>
    </message>
    <message>
        <source>Operation cancelled: %1 of %2 copies verified</source>
        <translation>Opération annulée : %1 copies sur %2 vérifiées</translation>
    </message>
    <message>
        <source>Operation complete: 1 copy verified</source>
        <translation>Opération terminée : 1 copie vérifiée</translation>
    </message>
    <message>
        <source>Operation complete: %1 copies verified</source>
        <translation>Opération terminée : %1 copies vérifiées</translation>
    </message>
    <message>
        <source>%1 %2 copied and verified, %3 failed</source>
        <translation>%1 %2 copié(s) et vérifié(s), %3 en échec</translation>
    </message>
    <message>
        <source>%1 %2 copied, %3 failed</source>
        <translation>%1 %2 copié(s), %3 en échec</translation>
    </message>
    <message>
        <source>file</source>
        <translation>fichier</translation>
    </message>
    <message>
        <source>files</source>
        <translation>fichiers</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Source Location</source>
        <translation>Emplacement source</translation>
    </message>
    <message>
        <source>Source folder</source>
        <translation>Dossier source</translation>
    </message>
    <message>
        <source>Choose source folder</source>
        <translation>Choisir le dossier source</translation>
    </message>
    <message>
        <source>Destination Location</source>
        <translation>Emplacement de destination</translation>
    </message>
    <message>
        <source>Destination folder</source>
        <translation>Dossier de destination</translation>
    </message>
    <message>
        <source>Choose destination folder</source>
        <translation>Choisir le dossier de destination</translation>
    </message>
    <message>
        <source>Overwrite Options</source>
        <translation>Options de remplacement</translation>
    </message>
    <message>
        <source>No files</source>
        <translation>Aucun fichier</translation>
    </message>
    <message>
        <source>All files</source>
        <translation>Tous les fichiers</translation>
    </message>
    <message>
        <source>Older files</source>
        <translation>Fichiers plus anciens</translation>
    </message>
    <message>
        <source>Smaller files</source>
        <translation>Fichiers plus petits</translation>
    </message>
    <message>
        <source>Include Options</source>
        <translation>Options d&apos;inclusion</translation>
    </message>
    <message>
        <source>Include sub-folders</source>
        <translation>Inclure les sous-dossiers</translation>
    </message>
    <message>
        <source>Include hidden files</source>
        <translation>Inclure les fichiers cachés</translation>
    </message>
    <message>
        <source>After the copy, read every copied file back from the device and compare it with its source</source>
        <translation>Après la copie, relire chaque fichier copié depuis le périphérique et le comparer à sa source</translation>
    </message>
    <message>
        <source>Verify copies</source>
        <translation>Vérifier les copies</translation>
    </message>
    <message>
        <source>Give every copy the modification time of its source, as a backup tool does</source>
        <translation>Donner à chaque copie la date de modification de sa source, comme le fait un outil de sauvegarde</translation>
    </message>
    <message>
        <source>Keep dates</source>
        <translation>Conserver les dates</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Démarrer</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annuler</translation>
    </message>
    <message>
        <source>Progress of the whole copy</source>
        <translation>Progression de toute la copie</translation>
    </message>
    <message>
        <source>Progress of the current file</source>
        <translation>Progression du fichier en cours</translation>
    </message>
    <message>
        <source>Status: </source>
        <translation>État : </translation>
    </message>
    <message>
        <source>Waiting for user input.</source>
        <translation>En attente de l&apos;utilisateur.</translation>
    </message>
    <message>
        <source>More Information</source>
        <translation>Plus d&apos;informations</translation>
    </message>
    <message>
        <source>Time elapsed:</source>
        <translation>Temps écoulé :</translation>
    </message>
    <message>
        <source>Time remaining:</source>
        <translation>Temps restant :</translation>
    </message>
    <message>
        <source>Speed:</source>
        <translation>Vitesse :</translation>
    </message>
    <message>
        <source>Elapsed</source>
        <translation>Écoulé</translation>
    </message>
    <message>
        <source>Remaining</source>
        <translation>Restant</translation>
    </message>
    <message>
        <source>Speed</source>
        <translation>Vitesse</translation>
    </message>
    <message>
        <source>Processed:</source>
        <translation>Traité :</translation>
    </message>
    <message>
        <source>Total:</source>
        <translation>Total :</translation>
    </message>
    <message>
        <source>Errors:</source>
        <translation>Erreurs :</translation>
    </message>
    <message>
        <source>Processed</source>
        <translation>Traité</translation>
    </message>
    <message>
        <source>Total</source>
        <translation>Total</translation>
    </message>
    <message>
        <source>Errors</source>
        <translation>Erreurs</translation>
    </message>
    <message>
        <source>Copy Errors</source>
        <translation>Erreurs de copie</translation>
    </message>
    <message>
        <source>Copy errors</source>
        <translation>Erreurs de copie</translation>
    </message>
    <message>
        <source>The files that could not be copied, with the reason. Space ticks or unticks the selected rows; Retry tries the ticked ones again.</source>
        <translation>Les fichiers qui n&apos;ont pas pu être copiés, avec la raison. Espace coche ou décoche les lignes sélectionnées ; Réessayer retente les lignes cochées.</translation>
    </message>
    <message>
        <source>Select All</source>
        <translation>Tout sélectionner</translation>
    </message>
    <message>
        <source>Deselect All</source>
        <translation>Tout désélectionner</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Réessayer</translation>
    </message>
    <message>
        <source>The source folder given does not exist.</source>
        <translation>Le dossier source indiqué n&apos;existe pas.</translation>
    </message>
    <message>
        <source>The destination folder given does not exist.</source>
        <translation>Le dossier de destination indiqué n&apos;existe pas.</translation>
    </message>
    <message>
        <source>The source given is not a folder.</source>
        <translation>La source indiquée n&apos;est pas un dossier.</translation>
    </message>
    <message>
        <source>The destination given is not a folder.</source>
        <translation>La destination indiquée n&apos;est pas un dossier.</translation>
    </message>
    <message>
        <source>Copies a folder into another.</source>
        <translation>Copie un dossier dans un autre.</translation>
    </message>
    <message>
        <source>Start copying at once (both folders needed).</source>
        <translation>Commencer la copie aussitôt (les deux dossiers sont nécessaires).</translation>
    </message>
    <message>
        <source>The folder to copy.</source>
        <translation>Le dossier à copier.</translation>
    </message>
    <message>
        <source>The folder to copy it into.</source>
        <translation>Le dossier où le copier.</translation>
    </message>
    <message>
        <source>Only a source and a destination folder can be given.</source>
        <translation>Seuls un dossier source et un dossier de destination peuvent être indiqués.</translation>
    </message>
    <message>
        <source>Not started: a source and a destination are needed.</source>
        <translation>Non démarré : une source et une destination sont nécessaires.</translation>
    </message>
    <message>
        <source>Less Information</source>
        <translation>Moins d&apos;informations</translation>
    </message>
    <message>
        <source>Hide copy details</source>
        <translation>Masquer les détails de la copie</translation>
    </message>
    <message>
        <source>Show copy details</source>
        <translation>Afficher les détails de la copie</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>Resume</source>
        <translation>Reprendre</translation>
    </message>
    <message>
        <source>Target Location</source>
        <translation>Emplacement de destination</translation>
    </message>
    <message>
        <source>Operation paused</source>
        <translation>Opération en pause</translation>
    </message>
    <message>
        <source>Operation restarting</source>
        <translation>Reprise de l&apos;opération</translation>
    </message>
    <message>
        <source>No Source</source>
        <translation>Aucune source</translation>
    </message>
    <message>
        <source>Please select a source folder location.</source>
        <translation>Veuillez choisir un dossier source.</translation>
    </message>
    <message>
        <source>No Destination</source>
        <translation>Aucune destination</translation>
    </message>
    <message>
        <source>Please select a destination folder location.</source>
        <translation>Veuillez choisir un dossier de destination.</translation>
    </message>
    <message>
        <source>Invalid Destination</source>
        <translation>Destination non valide</translation>
    </message>
    <message>
        <source>The destination location cannot be inside the source location.</source>
        <translation>La destination ne peut pas se trouver dans la source.</translation>
    </message>
    <message>
        <source>Copy in progress</source>
        <translation>Copie en cours</translation>
    </message>
    <message>
        <source>The copy has not finished. If you cancel it, the files copied so far stay and the file being copied is left as it was.</source>
        <translation>La copie n&apos;est pas terminée. Si vous l&apos;annulez, les fichiers déjà copiés restent et le fichier en cours de copie reste tel qu&apos;il était.</translation>
    </message>
    <message>
        <source>Keep copying</source>
        <translation>Continuer la copie</translation>
    </message>
    <message>
        <source>Cancel the copy and close</source>
        <translation>Annuler la copie et fermer</translation>
    </message>
    <message>
        <source>Operation cancelling</source>
        <translation>Annulation de l&apos;opération</translation>
    </message>
    <message>
        <source>Select Files</source>
        <translation>Choisir des fichiers</translation>
    </message>
    <message>
        <source>Please select files to retry.</source>
        <translation>Veuillez choisir les fichiers à réessayer.</translation>
    </message>
    <message>
        <source>Copying: </source>
        <translation>Copie : </translation>
    </message>
    <message>
        <source>Looking at the room at the destination…</source>
        <translation>Vérification de l&apos;espace à la destination…</translation>
    </message>
    <message>
        <source>Cancelling: writing what was copied to the destination…</source>
        <translation>Annulation : écriture de ce qui a été copié sur la destination…</translation>
    </message>
    <message>
        <source>Writing to the destination… The window closes once the data is written.</source>
        <translation>Écriture sur la destination… La fenêtre se fermera une fois les données écrites.</translation>
    </message>
    <message>
        <source>Writing to the destination…</source>
        <translation>Écriture sur la destination…</translation>
    </message>
    <message>
        <source>Verifying…</source>
        <translation>Vérification…</translation>
    </message>
    <message>
        <source>Not enough room</source>
        <translation>Espace insuffisant</translation>
    </message>
    <message>
        <source>This copy needs %1; the destination has %2 free.</source>
        <translation>Cette copie nécessite %1 ; la destination a %2 de libre.</translation>
    </message>
    <message>
        <source>Copy anyway</source>
        <translation>Copier quand même</translation>
    </message>
</context>
<context>
    <name>Reasons</name>
    <message>
        <source>The destination folder is a folder being copied</source>
        <translation>Le dossier de destination est un dossier en cours de copie</translation>
    </message>
    <message>
        <source>The file became shorter while it was copied</source>
        <translation>Le fichier a raccourci pendant sa copie</translation>
    </message>
    <message>
        <source>The file changed while it was copied</source>
        <translation>Le fichier a changé pendant sa copie</translation>
    </message>
    <message>
        <source>The file does not lie in the source folder</source>
        <translation>Le fichier ne se trouve pas dans le dossier source</translation>
    </message>
    <message>
        <source>Link to a folder that holds the source: not followed</source>
        <translation>Lien vers un dossier qui contient la source : non suivi</translation>
    </message>
    <message>
        <source>A folder that holds the source, mounted inside it: not copied</source>
        <translation>Un dossier qui contient la source, monté à l&apos;intérieur : non copié</translation>
    </message>
    <message>
        <source>Link to a folder that holds the destination: not followed</source>
        <translation>Lien vers un dossier qui contient la destination : non suivi</translation>
    </message>
    <message>
        <source>Link into the destination: not followed</source>
        <translation>Lien vers l&apos;intérieur de la destination : non suivi</translation>
    </message>
    <message>
        <source>The copy on the device differs from the source</source>
        <translation>La copie sur le périphérique diffère de la source</translation>
    </message>
    <message>
        <source>Too large for the destination&apos;s file system (FAT32 holds files under 4 GB)</source>
        <translation>Trop grand pour le système de fichiers de la destination (FAT32 accepte les fichiers de moins de 4 GB)</translation>
    </message>
    <message>
        <source>Not a regular file: pipe</source>
        <translation>Pas un fichier ordinaire : tube</translation>
    </message>
    <message>
        <source>Not a regular file: socket</source>
        <translation>Pas un fichier ordinaire : socket</translation>
    </message>
    <message>
        <source>Not a regular file: character device</source>
        <translation>Pas un fichier ordinaire : périphérique caractère</translation>
    </message>
    <message>
        <source>Not a regular file: block device</source>
        <translation>Pas un fichier ordinaire : périphérique bloc</translation>
    </message>
    <message>
        <source>Broken link</source>
        <translation>Lien cassé</translation>
    </message>
    <message>
        <source>Not a regular file</source>
        <translation>Pas un fichier ordinaire</translation>
    </message>
    <message>
        <source>Source file could not be opened</source>
        <translation>Le fichier source n&apos;a pas pu être ouvert</translation>
    </message>
    <message>
        <source>Target file could not be opened</source>
        <translation>Le fichier cible n&apos;a pas pu être ouvert</translation>
    </message>
    <message>
        <source>Source file could not be read</source>
        <translation>Le fichier source n&apos;a pas pu être lu</translation>
    </message>
    <message>
        <source>Target file could not be written</source>
        <translation>Le fichier cible n&apos;a pas pu être écrit</translation>
    </message>
    <message>
        <source>Target file could not be removed</source>
        <translation>Le fichier cible n&apos;a pas pu être supprimé</translation>
    </message>
    <message>
        <source>Target file could not be replaced</source>
        <translation>Le fichier cible n&apos;a pas pu être remplacé</translation>
    </message>
    <message>
        <source>Unknown error</source>
        <translation>Erreur inconnue</translation>
    </message>
</context>
<context>
    <name>SleepInhibitor</name>
    <message>
        <source>Copying files</source>
        <translation>Copie de fichiers en cours</translation>
    </message>
</context>
</TS>
