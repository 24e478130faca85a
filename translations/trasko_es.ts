<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="es">
<context>
    <name>FailureList</name>
    <message>
        <source>File</source>
        <translation>Archivo</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Reason</source>
        <translation>Motivo</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>Copiar</translation>
    </message>
    <message>
        <source>Tick or Untick</source>
        <translation>Marcar o desmarcar</translation>
    </message>
</context>
<context>
    <name>Formats</name>
    <message>
        <source>%1 day</source>
        <translation>%1 día</translation>
    </message>
    <message>
        <source>%1 hour</source>
        <translation>%1 hora</translation>
    </message>
    <message>
        <source>%1 minute</source>
        <translation>%1 minuto</translation>
    </message>
    <message>
        <source>%1 second</source>
        <translation>%1 segundo</translation>
    </message>
    <message>
        <source>%1 days</source>
        <translation>%1 días</translation>
    </message>
    <message>
        <source>%1 hours</source>
        <translation>%1 horas</translation>
    </message>
    <message>
        <source>%1 minutes</source>
        <translation>%1 minutos</translation>
    </message>
    <message>
        <source>%1 seconds</source>
        <translation>%1 segundos</translation>
    </message>
</context>
<context>
    <name>JobFigures</name>
    <message>
        <source>%1 files (%2)</source>
        <translation>%1 archivos (%2)</translation>
    </message>
    <message>
        <source>Unknown</source>
        <translation>Desconocido</translation>
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
        <translation>Operación cancelada</translation>
    </message>
    <message>
        <source>Operation complete</source>
        <translation>Operación completada</translation>
    </message>
    <message>
        <source>Operation cancelled: %1 of %2 copies verified</source>
        <translation>Operación cancelada: %1 de %2 copias verificadas</translation>
    </message>
    <message>
        <source>Operation complete: 1 copy verified</source>
        <translation>Operación completada: 1 copia verificada</translation>
    </message>
    <message>
        <source>Operation complete: %1 copies verified</source>
        <translation>Operación completada: %1 copias verificadas</translation>
    </message>
    <message>
        <source>%1 %2 copied and verified, %3 failed</source>
        <translation>%1 %2 copiado(s) y verificado(s), %3 con error</translation>
    </message>
    <message>
        <source>%1 %2 copied, %3 failed</source>
        <translation>%1 %2 copiado(s), %3 con error</translation>
    </message>
    <message>
        <source>file</source>
        <translation>archivo</translation>
    </message>
    <message>
        <source>files</source>
        <translation>archivos</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Source Location</source>
        <translation>Ubicación de origen</translation>
    </message>
    <message>
        <source>Source folder</source>
        <translation>Carpeta de origen</translation>
    </message>
    <message>
        <source>Choose source folder</source>
        <translation>Elegir la carpeta de origen</translation>
    </message>
    <message>
        <source>Destination Location</source>
        <translation>Ubicación de destino</translation>
    </message>
    <message>
        <source>Destination folder</source>
        <translation>Carpeta de destino</translation>
    </message>
    <message>
        <source>Choose destination folder</source>
        <translation>Elegir la carpeta de destino</translation>
    </message>
    <message>
        <source>Overwrite Options</source>
        <translation>Opciones de sobrescritura</translation>
    </message>
    <message>
        <source>No files</source>
        <translation>Ningún archivo</translation>
    </message>
    <message>
        <source>All files</source>
        <translation>Todos los archivos</translation>
    </message>
    <message>
        <source>Older files</source>
        <translation>Archivos más antiguos</translation>
    </message>
    <message>
        <source>Smaller files</source>
        <translation>Archivos más pequeños</translation>
    </message>
    <message>
        <source>Include Options</source>
        <translation>Opciones de inclusión</translation>
    </message>
    <message>
        <source>Include sub-folders</source>
        <translation>Incluir subcarpetas</translation>
    </message>
    <message>
        <source>Include hidden files</source>
        <translation>Incluir archivos ocultos</translation>
    </message>
    <message>
        <source>After the copy, read every copied file back from the device and compare it with its source</source>
        <translation>Tras la copia, volver a leer cada archivo copiado del dispositivo y compararlo con su origen</translation>
    </message>
    <message>
        <source>Verify copies</source>
        <translation>Verificar copias</translation>
    </message>
    <message>
        <source>Give every copy the modification time of its source, as a backup tool does</source>
        <translation>Dar a cada copia la fecha de modificación de su origen, como hace una herramienta de copias de seguridad</translation>
    </message>
    <message>
        <source>Keep dates</source>
        <translation>Conservar fechas</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Iniciar</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message>
        <source>Progress of the whole copy</source>
        <translation>Progreso de toda la copia</translation>
    </message>
    <message>
        <source>Progress of the current file</source>
        <translation>Progreso del archivo actual</translation>
    </message>
    <message>
        <source>Status: </source>
        <translation>Estado: </translation>
    </message>
    <message>
        <source>Waiting for user input.</source>
        <translation>Esperando al usuario.</translation>
    </message>
    <message>
        <source>More Information</source>
        <translation>Más información</translation>
    </message>
    <message>
        <source>Time elapsed:</source>
        <translation>Tiempo transcurrido:</translation>
    </message>
    <message>
        <source>Time remaining:</source>
        <translation>Tiempo restante:</translation>
    </message>
    <message>
        <source>Speed:</source>
        <translation>Velocidad:</translation>
    </message>
    <message>
        <source>Elapsed</source>
        <translation>Transcurrido</translation>
    </message>
    <message>
        <source>Remaining</source>
        <translation>Restante</translation>
    </message>
    <message>
        <source>Speed</source>
        <translation>Velocidad</translation>
    </message>
    <message>
        <source>Processed:</source>
        <translation>Procesado:</translation>
    </message>
    <message>
        <source>Total:</source>
        <translation>Total:</translation>
    </message>
    <message>
        <source>Errors:</source>
        <translation>Errores:</translation>
    </message>
    <message>
        <source>Processed</source>
        <translation>Procesado</translation>
    </message>
    <message>
        <source>Total</source>
        <translation>Total</translation>
    </message>
    <message>
        <source>Errors</source>
        <translation>Errores</translation>
    </message>
    <message>
        <source>Copy Errors</source>
        <translation>Errores de copia</translation>
    </message>
    <message>
        <source>Copy errors</source>
        <translation>Errores de copia</translation>
    </message>
    <message>
        <source>The files that could not be copied, with the reason. Space ticks or unticks the selected rows; Retry tries the ticked ones again.</source>
        <translation>Los archivos que no se pudieron copiar, con el motivo. Espacio marca o desmarca las filas seleccionadas; Reintentar vuelve a intentar las marcadas.</translation>
    </message>
    <message>
        <source>Select All</source>
        <translation>Seleccionar todo</translation>
    </message>
    <message>
        <source>Deselect All</source>
        <translation>Deseleccionar todo</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Reintentar</translation>
    </message>
    <message>
        <source>The source folder given does not exist.</source>
        <translation>La carpeta de origen indicada no existe.</translation>
    </message>
    <message>
        <source>The destination folder given does not exist.</source>
        <translation>La carpeta de destino indicada no existe.</translation>
    </message>
    <message>
        <source>The source given is not a folder.</source>
        <translation>El origen indicado no es una carpeta.</translation>
    </message>
    <message>
        <source>The destination given is not a folder.</source>
        <translation>El destino indicado no es una carpeta.</translation>
    </message>
    <message>
        <source>Copies a folder into another.</source>
        <translation>Copia una carpeta en otra.</translation>
    </message>
    <message>
        <source>Start copying at once (both folders needed).</source>
        <translation>Empezar a copiar enseguida (se necesitan las dos carpetas).</translation>
    </message>
    <message>
        <source>The folder to copy.</source>
        <translation>La carpeta que se copia.</translation>
    </message>
    <message>
        <source>The folder to copy it into.</source>
        <translation>La carpeta en la que se copia.</translation>
    </message>
    <message>
        <source>Only a source and a destination folder can be given.</source>
        <translation>Solo se pueden indicar una carpeta de origen y una de destino.</translation>
    </message>
    <message>
        <source>Not started: a source and a destination are needed.</source>
        <translation>No iniciado: se necesitan un origen y un destino.</translation>
    </message>
    <message>
        <source>Less Information</source>
        <translation>Menos información</translation>
    </message>
    <message>
        <source>Hide copy details</source>
        <translation>Ocultar los detalles de la copia</translation>
    </message>
    <message>
        <source>Show copy details</source>
        <translation>Mostrar los detalles de la copia</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation>Pausar</translation>
    </message>
    <message>
        <source>Resume</source>
        <translation>Reanudar</translation>
    </message>
    <message>
        <source>Target Location</source>
        <translation>Ubicación de destino</translation>
    </message>
    <message>
        <source>Operation paused</source>
        <translation>Operación en pausa</translation>
    </message>
    <message>
        <source>Operation restarting</source>
        <translation>Reanudando la operación</translation>
    </message>
    <message>
        <source>No Source</source>
        <translation>Sin origen</translation>
    </message>
    <message>
        <source>Please select a source folder location.</source>
        <translation>Elija una carpeta de origen.</translation>
    </message>
    <message>
        <source>No Destination</source>
        <translation>Sin destino</translation>
    </message>
    <message>
        <source>Please select a destination folder location.</source>
        <translation>Elija una carpeta de destino.</translation>
    </message>
    <message>
        <source>Invalid Destination</source>
        <translation>Destino no válido</translation>
    </message>
    <message>
        <source>The destination location cannot be inside the source location.</source>
        <translation>El destino no puede estar dentro del origen.</translation>
    </message>
    <message>
        <source>Copy in progress</source>
        <translation>Copia en curso</translation>
    </message>
    <message>
        <source>The copy has not finished. If you cancel it, the files copied so far stay and the file being copied is left as it was.</source>
        <translation>La copia no ha terminado. Si la cancela, los archivos copiados hasta ahora se quedan y el archivo que se estaba copiando queda como estaba.</translation>
    </message>
    <message>
        <source>Keep copying</source>
        <translation>Seguir copiando</translation>
    </message>
    <message>
        <source>Cancel the copy and close</source>
        <translation>Cancelar la copia y cerrar</translation>
    </message>
    <message>
        <source>Operation cancelling</source>
        <translation>Cancelando la operación</translation>
    </message>
    <message>
        <source>Select Files</source>
        <translation>Elegir archivos</translation>
    </message>
    <message>
        <source>Please select files to retry.</source>
        <translation>Elija los archivos que desea reintentar.</translation>
    </message>
    <message>
        <source>Copying: </source>
        <translation>Copiando: </translation>
    </message>
    <message>
        <source>Looking at the room at the destination…</source>
        <translation>Comprobando el espacio en el destino…</translation>
    </message>
    <message>
        <source>Cancelling: writing what was copied to the destination…</source>
        <translation>Cancelando: escribiendo en el destino lo copiado…</translation>
    </message>
    <message>
        <source>Writing to the destination… The window closes once the data is written.</source>
        <translation>Escribiendo en el destino… La ventana se cerrará cuando los datos estén escritos.</translation>
    </message>
    <message>
        <source>Writing to the destination…</source>
        <translation>Escribiendo en el destino…</translation>
    </message>
    <message>
        <source>Verifying…</source>
        <translation>Verificando…</translation>
    </message>
    <message>
        <source>Not enough room</source>
        <translation>No hay espacio suficiente</translation>
    </message>
    <message>
        <source>This copy needs %1; the destination has %2 free.</source>
        <translation>Esta copia necesita %1; el destino tiene %2 libres.</translation>
    </message>
    <message>
        <source>Copy anyway</source>
        <translation>Copiar de todos modos</translation>
    </message>
</context>
<context>
    <name>Reasons</name>
    <message>
        <source>The destination folder is a folder being copied</source>
        <translation>La carpeta de destino es una carpeta que se está copiando</translation>
    </message>
    <message>
        <source>The file became shorter while it was copied</source>
        <translation>El archivo se acortó mientras se copiaba</translation>
    </message>
    <message>
        <source>The file changed while it was copied</source>
        <translation>El archivo cambió mientras se copiaba</translation>
    </message>
    <message>
        <source>The file does not lie in the source folder</source>
        <translation>El archivo no está en la carpeta de origen</translation>
    </message>
    <message>
        <source>Link to a folder that holds the source: not followed</source>
        <translation>Enlace a una carpeta que contiene el origen: no seguido</translation>
    </message>
    <message>
        <source>A folder that holds the source, mounted inside it: not copied</source>
        <translation>Una carpeta que contiene el origen, montada dentro de él: no copiada</translation>
    </message>
    <message>
        <source>Link to a folder that holds the destination: not followed</source>
        <translation>Enlace a una carpeta que contiene el destino: no seguido</translation>
    </message>
    <message>
        <source>Link into the destination: not followed</source>
        <translation>Enlace al interior del destino: no seguido</translation>
    </message>
    <message>
        <source>The copy on the device differs from the source</source>
        <translation>La copia en el dispositivo difiere del origen</translation>
    </message>
    <message>
        <source>Too large for the destination&apos;s file system (FAT32 holds files under 4 GB)</source>
        <translation>Demasiado grande para el sistema de archivos del destino (FAT32 admite archivos de menos de 4 GB)</translation>
    </message>
    <message>
        <source>Not a regular file: pipe</source>
        <translation>No es un archivo normal: tubería</translation>
    </message>
    <message>
        <source>Not a regular file: socket</source>
        <translation>No es un archivo normal: socket</translation>
    </message>
    <message>
        <source>Not a regular file: character device</source>
        <translation>No es un archivo normal: dispositivo de caracteres</translation>
    </message>
    <message>
        <source>Not a regular file: block device</source>
        <translation>No es un archivo normal: dispositivo de bloques</translation>
    </message>
    <message>
        <source>Broken link</source>
        <translation>Enlace roto</translation>
    </message>
    <message>
        <source>Not a regular file</source>
        <translation>No es un archivo normal</translation>
    </message>
    <message>
        <source>Source file could not be opened</source>
        <translation>No se pudo abrir el archivo de origen</translation>
    </message>
    <message>
        <source>Target file could not be opened</source>
        <translation>No se pudo abrir el archivo de destino</translation>
    </message>
    <message>
        <source>Source file could not be read</source>
        <translation>No se pudo leer el archivo de origen</translation>
    </message>
    <message>
        <source>Target file could not be written</source>
        <translation>No se pudo escribir el archivo de destino</translation>
    </message>
    <message>
        <source>Target file could not be removed</source>
        <translation>No se pudo eliminar el archivo de destino</translation>
    </message>
    <message>
        <source>Target file could not be replaced</source>
        <translation>No se pudo reemplazar el archivo de destino</translation>
    </message>
    <message>
        <source>Unknown error</source>
        <translation>Error desconocido</translation>
    </message>
</context>
<context>
    <name>SleepInhibitor</name>
    <message>
        <source>Copying files</source>
        <translation>Copiando archivos</translation>
    </message>
</context>
</TS>
