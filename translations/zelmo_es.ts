<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="es">
<context>
    <name>AudioControl</name>
    <message>
        <source>You cannot test the audio while being connected to another user.</source>
        <translation>No puede probar el sonido mientras está conectado con otro usuario.</translation>
    </message>
</context>
<context>
    <name>AudioRoute</name>
    <message>
        <source>none</source>
        <translation>ninguno</translation>
    </message>
    <message>
        <source>The microphone &quot;%1&quot; went away; now using %2</source>
        <translation>El micrófono «%1» ya no está; ahora se usa %2</translation>
    </message>
    <message>
        <source>The speaker &quot;%1&quot; went away; now using %2</source>
        <translation>El altavoz «%1» ya no está; ahora se usa %2</translation>
    </message>
</context>
<context>
    <name>AudioSetup</name>
    <message>
        <source>Could not save the sound choices: %1</source>
        <translation>No se pudo guardar la configuración de sonido: %1</translation>
    </message>
</context>
<context>
    <name>AudioSetupGroup</name>
    <message>
        <source>Microphone and Speaker</source>
        <translation>Micrófono y altavoz</translation>
    </message>
    <message>
        <source>Microphone level</source>
        <translation>Nivel del micrófono</translation>
    </message>
    <message>
        <source>How loud the microphone is while it is open (record a sound test to try it)</source>
        <translation>Volumen del micrófono mientras está abierto (grabe una prueba de sonido para comprobarlo)</translation>
    </message>
    <message>
        <source>Cancel the echo of the other side&apos;s voice</source>
        <translation>Cancelar el eco de la voz del otro lado</translation>
    </message>
    <message>
        <source>Suppress steady noise (fans, hum)</source>
        <translation>Suprimir el ruido constante (ventiladores, zumbido)</translation>
    </message>
    <message>
        <source>Even out my voice&apos;s level</source>
        <translation>Igualar el nivel de mi voz</translation>
    </message>
    <message>
        <source>&amp;Microphone:</source>
        <translation>&amp;Micrófono:</translation>
    </message>
    <message>
        <source>Level:</source>
        <translation>Nivel:</translation>
    </message>
    <message>
        <source>S&amp;peaker:</source>
        <translation>&amp;Altavoz:</translation>
    </message>
    <message>
        <source>System default</source>
        <translation>Predeterminado del sistema</translation>
    </message>
    <message>
        <source>System default (%1)</source>
        <translation>Predeterminado del sistema (%1)</translation>
    </message>
    <message>
        <source>%1 (not connected)</source>
        <translation>%1 (no conectado)</translation>
    </message>
</context>
<context>
    <name>CallControl</name>
    <message>
        <source>Select a user on the list or enter an E-Mail or IP Address to place a call.</source>
        <translation>Seleccione un usuario de la lista o escriba un correo electrónico o una dirección IP para llamar.</translation>
    </message>
    <message>
        <source>A call from %1 (%2) was refused: it was not encrypted, and only encrypted calls are accepted (Options).</source>
        <translation>Se rechazó una llamada de %1 (%2): no estaba cifrada y solo se aceptan llamadas cifradas (Opciones).</translation>
    </message>
    <message>
        <source>You have entered an invalid Host Address: </source>
        <translation>Ha escrito una dirección de host no válida: </translation>
    </message>
    <message>
        <source>Call: %1, Time in %2 is %3.</source>
        <translation>Llamada: %1, hora en %2: %3.</translation>
    </message>
</context>
<context>
    <name>CallPath</name>
    <message>
        <source>direct</source>
        <translation>directa</translation>
    </message>
    <message>
        <source>through the routers</source>
        <translation>a través de los routers</translation>
    </message>
    <message>
        <source>relayed</source>
        <translation>retransmitida</translation>
    </message>
</context>
<context>
    <name>CallPrompt</name>
    <message>
        <source>Would you like to accept this call?</source>
        <translation>¿Desea aceptar esta llamada?</translation>
    </message>
    <message>
        <source>Auto Accepting this Call</source>
        <translation>Aceptando esta llamada automáticamente</translation>
    </message>
    <message>
        <source>Auto-Declining Call in %1 Seconds.</source>
        <translation>La llamada se rechazará automáticamente en %1 segundos.</translation>
    </message>
</context>
<context>
    <name>CallSecurity</name>
    <message>
        <source>not encrypted: the encrypted connection failed</source>
        <translation>sin cifrar: la conexión cifrada falló</translation>
    </message>
    <message>
        <source>not encrypted, although this address used encryption before</source>
        <translation>sin cifrar, aunque esta dirección usó cifrado antes</translation>
    </message>
    <message>
        <source>not encrypted: the other program is an older version</source>
        <translation>sin cifrar: el otro programa es una versión anterior</translation>
    </message>
    <message>
        <source>Warning: %1 now shows another key than in earlier calls. Someone may be listening in between: compare the short code before you trust this call.</source>
        <translation>Aviso: %1 muestra ahora una clave distinta de la de llamadas anteriores. Alguien podría estar escuchando en medio: compare el código corto antes de confiar en esta llamada.</translation>
    </message>
    <message>
        <source>verified</source>
        <translation>verificada</translation>
    </message>
    <message>
        <source>key changed, not verified</source>
        <translation>clave cambiada, sin verificar</translation>
    </message>
    <message>
        <source>not verified</source>
        <translation>sin verificar</translation>
    </message>
</context>
<context>
    <name>CallerPanel</name>
    <message>
        <source>Name:</source>
        <translation>Nombre:</translation>
    </message>
    <message>
        <source>From:</source>
        <translation>Desde:</translation>
    </message>
</context>
<context>
    <name>CaptureControl</name>
    <message>
        <source>Another application is using the Video device or has failed to properly release the Video Capture device driver.  Close the application or Reboot your computer and run ZELMO again to fix this problem.</source>
        <translation>Otra aplicación está usando el dispositivo de vídeo o no ha liberado correctamente el controlador del dispositivo de captura de vídeo.  Cierre la aplicación o reinicie el ordenador y vuelva a ejecutar ZELMO para resolver el problema.</translation>
    </message>
    <message>
        <source>Another application is using the Video device or has failed to properly release the Video Capture device driver.  Close the application or Reboot your computer and run again to fix this problem.</source>
        <translation>Otra aplicación está usando el dispositivo de vídeo o no ha liberado correctamente el controlador del dispositivo de captura de vídeo.  Cierre la aplicación o reinicie el ordenador y vuelva a intentarlo para resolver el problema.</translation>
    </message>
    <message>
        <source>The video format is not correct.  Set your Video size to 160x120, 320x240, QCIF or CIF.  The following formats are supported: 12bit YUV, Indeo Raw, 4 bit (16 greys), 6 bit (64 greys), 8 bit (256 greys), 16 bit (Thousands of Colors, RGBH) and 24 bit (Millions of Colors, RGBT)</source>
        <translation>El formato de vídeo no es correcto.  Ajuste el tamaño de vídeo a 160x120, 320x240, QCIF o CIF.  Se admiten los siguientes formatos: 12 bits YUV, Indeo Raw, 4 bits (16 grises), 6 bits (64 grises), 8 bits (256 grises), 16 bits (miles de colores, RGBH) y 24 bits (millones de colores, RGBT)</translation>
    </message>
</context>
<context>
    <name>ChatSession</name>
    <message>
        <source>Text Chat</source>
        <translation>Chat de texto</translation>
    </message>
    <message>
        <source>
&lt;End of Connection&gt;
</source>
        <translation>
&lt;Fin de la conexión&gt;
</translation>
    </message>
</context>
<context>
    <name>ConnectProgress</name>
    <message>
        <source>Establishing Connection...</source>
        <translation>Estableciendo la conexión...</translation>
    </message>
    <message>
        <source>Connection Made...Requesting</source>
        <translation>Conectado...Solicitando</translation>
    </message>
    <message>
        <source>Connection Response is NO</source>
        <translation>Respuesta a la conexión: NO</translation>
    </message>
    <message>
        <source>Connection Response is YES</source>
        <translation>Respuesta a la conexión: SÍ</translation>
    </message>
    <message>
        <source>Busy</source>
        <translation>Ocupado</translation>
    </message>
    <message>
        <source>Connection Canceled</source>
        <translation>Conexión cancelada</translation>
    </message>
    <message>
        <source>Did Not Answer</source>
        <translation>No contestó</translation>
    </message>
    <message>
        <source>could not connect</source>
        <translation>no se pudo conectar</translation>
    </message>
    <message>
        <source>Looking up Email Address</source>
        <translation>Buscando la dirección de correo</translation>
    </message>
    <message>
        <source>Email address not found</source>
        <translation>No se encontró la dirección de correo</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>Aceptar</translation>
    </message>
    <message>
        <source>IDLE</source>
        <translation>INACTIVO</translation>
    </message>
</context>
<context>
    <name>DesktopIntegration</name>
    <message>
        <source>Could not save the desktop choices: %1</source>
        <translation>No se pudo guardar la configuración del escritorio: %1</translation>
    </message>
</context>
<context>
    <name>DesktopOptionsGroup</name>
    <message>
        <source>Desktop</source>
        <translation>Escritorio</translation>
    </message>
    <message>
        <source>Notify me of calls, messages and the chat bell while ZELMO is in the background</source>
        <translation>Avisarme de llamadas, mensajes y el timbre del chat mientras ZELMO está en segundo plano</translation>
    </message>
    <message>
        <source>Show ZELMO in the system tray</source>
        <translation>Mostrar ZELMO en la bandeja del sistema</translation>
    </message>
    <message>
        <source>None</source>
        <translation>Ninguna</translation>
    </message>
    <message>
        <source>&amp;Talk key:</source>
        <translation>&amp;Tecla para hablar:</translation>
    </message>
    <message>
        <source>This desktop shows no tray now; the icon appears if one starts.</source>
        <translation>Este escritorio no muestra ahora ninguna bandeja; el icono aparecerá cuando se inicie una.</translation>
    </message>
    <message>
        <source>System</source>
        <translation>Sistema</translation>
    </message>
    <message>
        <source>Light</source>
        <translation>Claro</translation>
    </message>
    <message>
        <source>Dark</source>
        <translation>Oscuro</translation>
    </message>
    <message>
        <source>System follows the desktop&apos;s light or dark colour scheme</source>
        <translation>Sistema sigue el esquema de colores claro u oscuro del escritorio</translation>
    </message>
    <message>
        <source>&amp;Colours:</source>
        <translation>&amp;Colores:</translation>
    </message>
</context>
<context>
    <name>DirectoryDialer</name>
    <message>
        <source>The key of the directory server at %1 has changed: nothing was sent. Accept the new key only if its operator changed it.</source>
        <translation>La clave del servidor de directorio %1 ha cambiado: no se ha enviado nada. Acepte la clave nueva solo si su operador la cambió.</translation>
    </message>
    <message>
        <source>The directory server at %1 did not answer encrypted as before: nothing was sent.</source>
        <translation>El servidor de directorio %1 no respondió cifrado como antes: no se ha enviado nada.</translation>
    </message>
</context>
<context>
    <name>DirectoryService</name>
    <message>
        <source>Establishing Connection with </source>
        <translation>Estableciendo la conexión con </translation>
    </message>
    <message>
        <source>You must be connected to the Internet before you can use the Directory</source>
        <translation>Debe estar conectado a Internet para poder usar el directorio</translation>
    </message>
    <message>
        <source>Directory Server Address is invalid: </source>
        <translation>La dirección del servidor de directorio no es válida: </translation>
    </message>
    <message>
        <source>Type in IP Address for Connection</source>
        <translation>Escriba la dirección IP para la conexión</translation>
    </message>
    <message>
        <source>Requesting User List</source>
        <translation>Solicitando la lista de usuarios</translation>
    </message>
    <message>
        <source>Refreshing Directory List</source>
        <translation>Actualizando la lista del directorio</translation>
    </message>
    <message>
        <source>Unable to contact Directory Server</source>
        <translation>No se puede contactar con el servidor de directorio</translation>
    </message>
    <message>
        <source>Connected to Directory Server</source>
        <translation>Conectado al servidor de directorio</translation>
    </message>
    <message>
        <source>Processing User List</source>
        <translation>Procesando la lista de usuarios</translation>
    </message>
    <message>
        <source> Users Online</source>
        <translation> usuarios en línea</translation>
    </message>
    <message>
        <source> Users Listed</source>
        <translation> usuarios en la lista</translation>
    </message>
    <message>
        <source>Select User for Connection</source>
        <translation>Seleccione un usuario para la conexión</translation>
    </message>
    <message>
        <source>This person is using an older version. You cannot send a message to an older version.</source>
        <translation>Esta persona usa una versión anterior. No puede enviar un mensaje a una versión anterior.</translation>
    </message>
    <message>
        <source>Select a user to send message.</source>
        <translation>Seleccione un usuario para enviar un mensaje.</translation>
    </message>
</context>
<context>
    <name>GlobalTalkKey</name>
    <message>
        <source>This desktop offers no key that works while another window has the focus.</source>
        <translation>Este escritorio no ofrece ninguna tecla que funcione mientras otra ventana tiene el foco.</translation>
    </message>
    <message>
        <source>Asking the desktop whether it offers global keys...</source>
        <translation>Preguntando al escritorio si ofrece teclas globales...</translation>
    </message>
    <message>
        <source>No talk key: hold the Talk button to talk.</source>
        <translation>Sin tecla para hablar: mantenga pulsado el botón Hablar para hablar.</translation>
    </message>
    <message>
        <source>Waiting for the desktop to give %1...</source>
        <translation>Esperando a que el escritorio conceda %1...</translation>
    </message>
    <message>
        <source>Hold %1 to talk, whichever window has the focus.</source>
        <translation>Mantenga pulsada %1 para hablar, tenga el foco la ventana que tenga.</translation>
    </message>
</context>
<context>
    <name>HotKey</name>
    <message>
        <source>Pause</source>
        <translation>Pausa</translation>
    </message>
    <message>
        <source>Scroll Lock</source>
        <translation>Bloq Despl</translation>
    </message>
    <message>
        <source>Insert</source>
        <translation>Insert</translation>
    </message>
    <message>
        <source>Menu</source>
        <translation>Menú</translation>
    </message>
    <message>
        <source>Right Ctrl</source>
        <translation>Ctrl derecha</translation>
    </message>
    <message>
        <source>Right Shift</source>
        <translation>Mayús derecha</translation>
    </message>
    <message>
        <source>Right Super</source>
        <translation>Super derecha</translation>
    </message>
</context>
<context>
    <name>Identity</name>
    <message>
        <source>The key file %1 is damaged and cannot be used. ZELMO makes a new key and keeps the old file as %2. Peers who knew your old key will be told that your key changed.</source>
        <translation>El archivo de clave %1 está dañado y no se puede usar. ZELMO crea una clave nueva y conserva el archivo antiguo como %2. A quienes conocían su clave anterior se les avisará de que su clave ha cambiado.</translation>
    </message>
    <message>
        <source>The key file %1 could be read by other users of this computer, so it is not used any more. ZELMO makes a new key and keeps the old file as %2. Peers who knew your old key will be told that your key changed.</source>
        <translation>Otros usuarios de este ordenador podían leer el archivo de clave %1, así que ya no se usa. ZELMO crea una clave nueva y conserva el archivo antiguo como %2. A quienes conocían su clave anterior se les avisará de que su clave ha cambiado.</translation>
    </message>
    <message>
        <source>Not a key this program can use</source>
        <translation>No es una clave que este programa pueda usar</translation>
    </message>
    <message>
        <source>The old key file could not be set aside</source>
        <translation>No se pudo apartar el archivo de clave anterior</translation>
    </message>
    <message>
        <source>The encryption library could not use its new key</source>
        <translation>La biblioteca de cifrado no pudo usar la clave nueva</translation>
    </message>
    <message>
        <source>The key file %1 is a link to another file, so it is not used. ZELMO makes a new key and keeps the link as %2. Peers who knew your old key will be told that your key changed.</source>
        <translation>El archivo de clave %1 es un enlace a otro archivo, así que no se usa. ZELMO crea una clave nueva y conserva el enlace como %2. A quienes conocían su clave anterior se les avisará de que su clave ha cambiado.</translation>
    </message>
</context>
<context>
    <name>MainWindowController</name>
    <message>
        <source>You must enter a name of at least 3 Characters in length.  </source>
        <translation>Debe escribir un nombre de al menos 3 caracteres.  </translation>
    </message>
</context>
<context>
    <name>MediaConnection</name>
    <message>
        <source>You have entered an invalid Host Address: </source>
        <translation>Ha escrito una dirección de host no válida: </translation>
    </message>
</context>
<context>
    <name>MediaFormatChoice</name>
    <message>
        <source>The choice of picture and sound formats could not be saved: %1</source>
        <translation>No se pudo guardar la elección de formatos de imagen y sonido: %1</translation>
    </message>
</context>
<context>
    <name>MediaSession</name>
    <message>
        <source>The text was not sent: %1 lines are still waiting to go out. Please send it again in a moment.</source>
        <translation>El texto no se envió: aún hay %1 líneas esperando para salir. Vuelva a enviarlo dentro de un momento.</translation>
    </message>
    <message>
        <source>Text Chat - </source>
        <translation>Chat de texto - </translation>
    </message>
    <message>
        <source>Text Chat</source>
        <translation>Chat de texto</translation>
    </message>
    <message>
        <source>VP8, Opus</source>
        <translation>VP8, Opus</translation>
    </message>
    <message>
        <source>VP8 %1×%2, Opus</source>
        <translation>VP8 %1×%2, Opus</translation>
    </message>
</context>
<context>
    <name>MessageSender</name>
    <message>
        <source>Message not delivered: the connection was closed</source>
        <translation>Mensaje no entregado: la conexión se cerró</translation>
    </message>
    <message>
        <source>Establishing Connection...</source>
        <translation>Estableciendo la conexión...</translation>
    </message>
    <message>
        <source>You have entered an invalid Host Address: </source>
        <translation>Ha escrito una dirección de host no válida: </translation>
    </message>
    <message>
        <source>Failed to Establish Connection</source>
        <translation>No se pudo establecer la conexión</translation>
    </message>
    <message>
        <source>Connection Established</source>
        <translation>Conexión establecida</translation>
    </message>
    <message>
        <source>Sending Message</source>
        <translation>Enviando el mensaje</translation>
    </message>
    <message>
        <source>Message Refused from User</source>
        <translation>El usuario rechazó el mensaje</translation>
    </message>
    <message>
        <source>Transmitting Picture</source>
        <translation>Transmitiendo la imagen</translation>
    </message>
    <message>
        <source>Transmitting Audio</source>
        <translation>Transmitiendo el sonido</translation>
    </message>
</context>
<context>
    <name>MessageService</name>
    <message>
        <source>Could not save Refuse List data File, </source>
        <translation>No se pudo guardar el archivo de la lista de rechazos, </translation>
    </message>
</context>
<context>
    <name>Notifier</name>
    <message>
        <source>%1 is calling</source>
        <translation>%1 está llamando</translation>
    </message>
    <message>
        <source>%1, %2 is calling</source>
        <translation>%1, %2 está llamando</translation>
    </message>
    <message>
        <source>Auto Accepting this Call</source>
        <translation>Aceptando esta llamada automáticamente</translation>
    </message>
    <message>
        <source>Would you like to accept this call?</source>
        <translation>¿Desea aceptar esta llamada?</translation>
    </message>
    <message>
        <source>Answer</source>
        <translation>Contestar</translation>
    </message>
    <message>
        <source>Decline</source>
        <translation>Rechazar</translation>
    </message>
    <message>
        <source>Show</source>
        <translation>Mostrar</translation>
    </message>
    <message>
        <source>Quick Message</source>
        <translation>Mensaje rápido</translation>
    </message>
    <message>
        <source>Quick Message from %1</source>
        <translation>Mensaje rápido de %1</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Abrir</translation>
    </message>
    <message>
        <source>Text Chat</source>
        <translation>Chat de texto</translation>
    </message>
    <message>
        <source>Text Chat - </source>
        <translation>Chat de texto - </translation>
    </message>
    <message>
        <source>The chat bell rang.</source>
        <translation>Sonó el timbre del chat.</translation>
    </message>
    <message>
        <source>%1 rang the chat bell.</source>
        <translation>%1 tocó el timbre del chat.</translation>
    </message>
    <message>
        <source>Show Chat</source>
        <translation>Mostrar el chat</translation>
    </message>
</context>
<context>
    <name>OptionsLogic</name>
    <message>
        <source>You must enter a name of at least 3 Characters in length.</source>
        <translation>Debe escribir un nombre de al menos 3 caracteres.</translation>
    </message>
    <message>
        <source>You must enter an Email Address of at least 8 Characters in length.</source>
        <translation>Debe escribir una dirección de correo de al menos 8 caracteres.</translation>
    </message>
    <message>
        <source>This option cannot be changed while you are in a connection. Please disconnect to set this option.</source>
        <translation>Esta opción no se puede cambiar mientras está en una conexión. Desconéctese para ajustarla.</translation>
    </message>
    <message>
        <source>Could not save Refuse List data File, </source>
        <translation>No se pudo guardar el archivo de la lista de rechazos, </translation>
    </message>
</context>
<context>
    <name>PalService</name>
    <message>
        <source>Could not save the user number, </source>
        <translation>No se pudo guardar el número de usuario, </translation>
    </message>
    <message>
        <source>Pal Entry</source>
        <translation>Añadir amigo</translation>
    </message>
    <message>
        <source>Your pal list is full: it holds %1 pals. Delete a pal before adding another.</source>
        <translation>Su lista de amigos está llena: contiene %1 amigos. Elimine un amigo antes de añadir otro.</translation>
    </message>
    <message>
        <source>Could not save Pal File, </source>
        <translation>No se pudo guardar el archivo de amigos, </translation>
    </message>
</context>
<context>
    <name>PathDialer</name>
    <message>
        <source>The path to the peer is gone</source>
        <translation>El camino hacia el otro lado ya no existe</translation>
    </message>
    <message>
        <source>The path to the peer is in use</source>
        <translation>El camino hacia el otro lado está en uso</translation>
    </message>
</context>
<context>
    <name>PathFinder</name>
    <message>
        <source>The directory server could not pass the call on</source>
        <translation>El servidor de directorio no pudo pasar la llamada</translation>
    </message>
    <message>
        <source>The person is not logged in to the directory server</source>
        <translation>La persona no ha iniciado sesión en el servidor de directorio</translation>
    </message>
    <message>
        <source>No path to the person could be found (%1)</source>
        <translation>No se encontró ningún camino hacia la persona (%1)</translation>
    </message>
    <message>
        <source>The connection to the directory server was lost</source>
        <translation>Se perdió la conexión con el servidor de directorio</translation>
    </message>
</context>
<context>
    <name>PipeWireScreenSource</name>
    <message>
        <source>Shared screen</source>
        <translation>Pantalla compartida</translation>
    </message>
    <message>
        <source>The desktop&apos;s picture failed: %1</source>
        <translation>La imagen del escritorio ha fallado: %1</translation>
    </message>
    <message>
        <source>The desktop stopped sending the picture.</source>
        <translation>El escritorio ha dejado de enviar la imagen.</translation>
    </message>
    <message>
        <source>The connection to the desktop&apos;s picture was lost.</source>
        <translation>Se ha perdido la conexión con la imagen del escritorio.</translation>
    </message>
</context>
<context>
    <name>PortalScreenCast</name>
    <message>
        <source>The desktop offers no screen sharing.</source>
        <translation>El escritorio no ofrece compartir la pantalla.</translation>
    </message>
    <message>
        <source>The desktop&apos;s screen sharing failed: %1</source>
        <translation>La función de compartir pantalla del escritorio ha fallado: %1</translation>
    </message>
    <message>
        <source>Screen sharing was cancelled in the desktop&apos;s dialog.</source>
        <translation>Se canceló compartir la pantalla en el diálogo del escritorio.</translation>
    </message>
    <message>
        <source>The desktop could not share the screen.</source>
        <translation>El escritorio no pudo compartir la pantalla.</translation>
    </message>
    <message>
        <source>The desktop shared nothing.</source>
        <translation>El escritorio no compartió nada.</translation>
    </message>
    <message>
        <source>The desktop gave no picture of the screen.</source>
        <translation>El escritorio no entregó ninguna imagen de la pantalla.</translation>
    </message>
</context>
<context>
    <name>PortalTalkKey</name>
    <message>
        <source>Push to talk in ZELMO</source>
        <translation>Pulsar para hablar en ZELMO</translation>
    </message>
    <message>
        <source>The desktop&apos;s shortcut service failed: %1</source>
        <translation>El servicio de atajos del escritorio falló: %1</translation>
    </message>
    <message>
        <source>The desktop did not open a shortcut session.</source>
        <translation>El escritorio no abrió una sesión de atajos.</translation>
    </message>
    <message>
        <source>The talk key was turned down in the desktop&apos;s dialog.</source>
        <translation>La tecla para hablar se rechazó en el diálogo del escritorio.</translation>
    </message>
    <message>
        <source>The desktop refused the talk key.</source>
        <translation>El escritorio rechazó la tecla para hablar.</translation>
    </message>
    <message>
        <source>The desktop did not bind the talk key.</source>
        <translation>El escritorio no asignó la tecla para hablar.</translation>
    </message>
    <message>
        <source>The desktop ended the talk key&apos;s session.</source>
        <translation>El escritorio terminó la sesión de la tecla para hablar.</translation>
    </message>
</context>
<context>
    <name>Program</name>
    <message>
        <source>Failed to start text Listen Daemon 4: </source>
        <translation>No se pudo iniciar el servicio de escucha 4 (texto): </translation>
    </message>
    <message>
        <source>Failed to init TCP/IP Stack:</source>
        <translation>No se pudo inicializar la pila TCP/IP:</translation>
    </message>
    <message>
        <source>Failed to start Listen Daemon 1: </source>
        <translation>No se pudo iniciar el servicio de escucha 1: </translation>
    </message>
    <message>
        <source>Failed to start Listen Daemon 2: </source>
        <translation>No se pudo iniciar el servicio de escucha 2: </translation>
    </message>
    <message>
        <source>Failed to start Listen Daemon 3: </source>
        <translation>No se pudo iniciar el servicio de escucha 3: </translation>
    </message>
    <message>
        <source>You must connect to the Internet before running ZELMO. Please connect to the Internet and run ZELMO again.</source>
        <translation>Debe conectarse a Internet antes de ejecutar ZELMO. Conéctese a Internet y vuelva a ejecutar ZELMO.</translation>
    </message>
    <message>
        <source>You must cancel the connection that is being established before exiting.</source>
        <translation>Debe cancelar la conexión que se está estableciendo antes de salir.</translation>
    </message>
    <message>
        <source>Could not save Pal File, </source>
        <translation>No se pudo guardar el archivo de amigos, </translation>
    </message>
    <message>
        <source>Could not save Refuse List data File, </source>
        <translation>No se pudo guardar el archivo de la lista de rechazos, </translation>
    </message>
    <message>
        <source>Could not save Log File, </source>
        <translation>No se pudo guardar el archivo de registro, </translation>
    </message>
</context>
<context>
    <name>QtAudioInput</name>
    <message>
        <source>The microphone stopped.</source>
        <translation>El micrófono se detuvo.</translation>
    </message>
</context>
<context>
    <name>QtAudioOutput</name>
    <message>
        <source>The speaker stopped.</source>
        <translation>El altavoz se detuvo.</translation>
    </message>
</context>
<context>
    <name>QtCameraDevice</name>
    <message>
        <source>The camera stopped.</source>
        <translation>La cámara se detuvo.</translation>
    </message>
</context>
<context>
    <name>ReachOptionsGroup</name>
    <message>
        <source>Reachability</source>
        <translation>Accesibilidad desde Internet</translation>
    </message>
    <message>
        <source>Ask the router to forward my ports (UPnP, NAT-PMP)</source>
        <translation>Pedir al router que redirija mis puertos (UPnP, NAT-PMP)</translation>
    </message>
    <message>
        <source>Without it, others can call you only when your router forwards the ports by hand</source>
        <translation>Sin esto, los demás solo pueden llamarle si su router redirige los puertos a mano</translation>
    </message>
</context>
<context>
    <name>ReachabilityService</name>
    <message>
        <source>forward %1 to %2, see Help, Troubleshooting</source>
        <translation>redirija %1 a %2; consulte Ayuda, Solución de problemas</translation>
    </message>
    <message>
        <source>this computer</source>
        <translation>este ordenador</translation>
    </message>
    <message>
        <source>Asking your router to forward %1...</source>
        <translation>Pidiendo a su router que redirija %1...</translation>
    </message>
    <message>
        <source>Router requests are off: </source>
        <translation>Las peticiones al router están desactivadas: </translation>
    </message>
    <message>
        <source>No router answered the request for port forwarding: </source>
        <translation>Ningún router respondió a la petición de redirección de puertos: </translation>
    </message>
    <message>
        <source>Your router did not allow port forwarding: </source>
        <translation>Su router no permitió la redirección de puertos: </translation>
    </message>
    <message>
        <source>Your router&apos;s answers made no sense (%1): </source>
        <translation>Las respuestas de su router no tenían sentido (%1): </translation>
    </message>
    <message>
        <source>Your router&apos;s outside address %1 is itself private, so another router or your provider stands in front of it: ask there to </source>
        <translation>La dirección exterior %1 de su router es a su vez privada, así que otro router o su proveedor está delante: pida allí que </translation>
    </message>
    <message>
        <source>Your router gave the ports for no time: </source>
        <translation>Su router concedió los puertos por un tiempo nulo: </translation>
    </message>
    <message>
        <source>Not reachable: the directory server could not connect to %1 (%2). </source>
        <translation>No accesible: el servidor de directorio no pudo conectar con %1 (%2). </translation>
    </message>
    <message>
        <source>Others on this network can call you at %1</source>
        <translation>Otros en esta red pueden llamarle en %1</translation>
    </message>
    <message>
        <source>Only programs on this computer use this directory server</source>
        <translation>Solo los programas de este ordenador usan este servidor de directorio</translation>
    </message>
    <message>
        <source>Not reachable from the internet: the directory server could not connect to %1 (%2). </source>
        <translation>No accesible desde Internet: el servidor de directorio no pudo conectar con %1 (%2). </translation>
    </message>
    <message>
        <source>Another router may stand in front of yours.</source>
        <translation>Puede que haya otro router delante del suyo.</translation>
    </message>
    <message>
        <source>Others can call you at </source>
        <translation>Los demás pueden llamarle en </translation>
    </message>
    <message>
        <source> (reachable from the internet)</source>
        <translation> (accesible desde Internet)</translation>
    </message>
    <message>
        <source>Not reachable from the internet. </source>
        <translation>No accesible desde Internet. </translation>
    </message>
    <message>
        <source>Others can call you at %1 over IPv6; over IPv4 not reachable. </source>
        <translation>Los demás pueden llamarle en %1 por IPv6; por IPv4 no es accesible. </translation>
    </message>
    <message>
        <source>TCP %1-%2 and %3</source>
        <translation>TCP %1-%2 y %3</translation>
    </message>
</context>
<context>
    <name>ScreenPickerDialog</name>
    <message>
        <source>Share Screen</source>
        <translation>Compartir pantalla</translation>
    </message>
    <message>
        <source>Choose what the other side will see instead of your camera:</source>
        <translation>Elija lo que verá el otro lado en lugar de su cámara:</translation>
    </message>
    <message>
        <source>Screens and windows</source>
        <translation>Pantallas y ventanas</translation>
    </message>
    <message>
        <source>Whole screen: %1</source>
        <translation>Pantalla completa: %1</translation>
    </message>
    <message>
        <source>Window: %1</source>
        <translation>Ventana: %1</translation>
    </message>
    <message>
        <source>Share</source>
        <translation>Compartir</translation>
    </message>
</context>
<context>
    <name>ScreenShare</name>
    <message>
        <source>Screen sharing ended: the desktop ended the session.</source>
        <translation>Se dejó de compartir la pantalla: el escritorio terminó la sesión.</translation>
    </message>
    <message>
        <source>The screen cannot be shared: the display %1 cannot be read.</source>
        <translation>No se puede compartir la pantalla: no se puede leer la pantalla %1.</translation>
    </message>
    <message>
        <source>&quot;%1&quot; cannot be shared: it is gone or its pixels cannot be read.</source>
        <translation>No se puede compartir «%1»: ya no existe o no se pueden leer sus píxeles.</translation>
    </message>
    <message>
        <source>Screen sharing started: %1</source>
        <translation>Se empezó a compartir la pantalla: %1</translation>
    </message>
    <message>
        <source>Shared screen</source>
        <translation>Pantalla compartida</translation>
    </message>
    <message>
        <source>The desktop&apos;s picture of the screen cannot be read.</source>
        <translation>No se puede leer la imagen de la pantalla que da el escritorio.</translation>
    </message>
    <message>
        <source>Screen sharing started through the desktop</source>
        <translation>Se empezó a compartir la pantalla a través del escritorio</translation>
    </message>
    <message>
        <source>Screen sharing ended: %1</source>
        <translation>Se dejó de compartir la pantalla: %1</translation>
    </message>
</context>
<context>
    <name>SecureDialer</name>
    <message>
        <source>Only encrypted calls are allowed, and the other program does not answer encrypted</source>
        <translation>Solo se permiten llamadas cifradas y el otro programa no responde cifrado</translation>
    </message>
</context>
<context>
    <name>SecurityBadge</name>
    <message>
        <source>Mark as verified</source>
        <translation>Marcar como verificada</translation>
    </message>
    <message>
        <source>The other person read you the same four words: nobody is in between</source>
        <translation>La otra persona le leyó las mismas cuatro palabras: no hay nadie en medio</translation>
    </message>
    <message>
        <source>Not encrypted</source>
        <translation>Sin cifrar</translation>
    </message>
    <message>
        <source>Encrypted</source>
        <translation>Cifrada</translation>
    </message>
    <message>
        <source>Encrypted call, %1. Read these words to the other person: when theirs are the same, nobody is in between.</source>
        <translation>Llamada cifrada, %1. Lea estas palabras a la otra persona: si las suyas son iguales, no hay nadie en medio.</translation>
    </message>
    <message>
        <source>The call goes %1</source>
        <translation>La llamada va %1</translation>
    </message>
    <message>
        <source>Picture and sound: %1</source>
        <translation>Imagen y sonido: %1</translation>
    </message>
</context>
<context>
    <name>SecurityIndicators</name>
    <message>
        <source>Encrypted call, %1</source>
        <translation>Llamada cifrada, %1</translation>
    </message>
</context>
<context>
    <name>SecurityOptionsGroup</name>
    <message>
        <source>Encryption</source>
        <translation>Cifrado</translation>
    </message>
    <message>
        <source>Only accept and place encrypted calls</source>
        <translation>Aceptar y hacer solo llamadas cifradas</translation>
    </message>
    <message>
        <source>Calls with older versions of ZELMO, which cannot encrypt, are refused both ways</source>
        <translation>Las llamadas con versiones anteriores de ZELMO, que no pueden cifrar, se rechazan en ambos sentidos</translation>
    </message>
    <message>
        <source>Calls are not encrypted: this program has no key.</source>
        <translation>Las llamadas no se cifran: este programa no tiene clave.</translation>
    </message>
    <message>
        <source>Export Key...</source>
        <translation>Exportar clave...</translation>
    </message>
    <message>
        <source>Save your key, protected by a passphrase, to move it to another computer</source>
        <translation>Guardar su clave, protegida con una frase de contraseña, para llevarla a otro ordenador</translation>
    </message>
    <message>
        <source>Import Key...</source>
        <translation>Importar clave...</translation>
    </message>
    <message>
        <source>Use a key exported on another computer: your e-mail address and user number on the directory stay yours</source>
        <translation>Usar una clave exportada en otro ordenador: su dirección de correo y su número de usuario en el directorio siguen siendo suyos</translation>
    </message>
    <message>
        <source>Your key: %1 ...</source>
        <translation>Su clave: %1 ...</translation>
    </message>
    <message>
        <source>Calls between two ZELMOs of this version are encrypted</source>
        <translation>Las llamadas entre dos ZELMO de esta versión están cifradas</translation>
    </message>
    <message>
        <source>Directory key: %1 (%2)</source>
        <translation>Clave del directorio: %1 (%2)</translation>
    </message>
    <message>
        <source>Directory key: none yet; remembered at the first encrypted login</source>
        <translation>Clave del directorio: ninguna todavía; se recuerda en el primer inicio de sesión cifrado</translation>
    </message>
    <message>
        <source>Export Key</source>
        <translation>Exportar clave</translation>
    </message>
    <message>
        <source>A passphrase to protect the key:</source>
        <translation>Una frase de contraseña para proteger la clave:</translation>
    </message>
    <message>
        <source>Import Key</source>
        <translation>Importar clave</translation>
    </message>
    <message>
        <source>The passphrase the key was exported with:</source>
        <translation>La frase de contraseña con la que se exportó la clave:</translation>
    </message>
</context>
<context>
    <name>SecurityService</name>
    <message>
        <source>The call to %1 was not placed: only encrypted calls are allowed (Options), and the other program does not answer encrypted calls.</source>
        <translation>No se hizo la llamada a %1: solo se permiten llamadas cifradas (Opciones) y el otro programa no responde a llamadas cifradas.</translation>
    </message>
    <message>
        <source>Could not make a key for encrypted calls, %1. Calls will not be encrypted.</source>
        <translation>No se pudo crear una clave para llamadas cifradas, %1. Las llamadas no se cifrarán.</translation>
    </message>
    <message>
        <source>Not encrypted</source>
        <translation>Sin cifrar</translation>
    </message>
    <message>
        <source>Encrypted, from the sender&apos;s verified key</source>
        <translation>Cifrado, con la clave verificada del remitente</translation>
    </message>
    <message>
        <source>Encrypted, from a key not verified</source>
        <translation>Cifrado, con una clave sin verificar</translation>
    </message>
    <message>
        <source>A passphrase is needed to protect the key.</source>
        <translation>Se necesita una frase de contraseña para proteger la clave.</translation>
    </message>
    <message>
        <source>This program has no key to export.</source>
        <translation>Este programa no tiene ninguna clave que exportar.</translation>
    </message>
    <message>
        <source>The key could not be written, %1 : %2</source>
        <translation>No se pudo escribir la clave, %1 : %2</translation>
    </message>
    <message>
        <source>The file %1 cannot be read: %2</source>
        <translation>No se puede leer el archivo %1: %2</translation>
    </message>
    <message>
        <source>The passphrase is wrong, or the file holds no ZELMO key.</source>
        <translation>La frase de contraseña es incorrecta o el archivo no contiene ninguna clave de ZELMO.</translation>
    </message>
    <message>
        <source>The key could not be used, %1 : %2</source>
        <translation>No se pudo usar la clave, %1 : %2</translation>
    </message>
    <message>
        <source>Encrypted, from an unknown key, not the one remembered for this address</source>
        <translation>Cifrado, con una clave desconocida, no la recordada para esta dirección</translation>
    </message>
    <message>
        <source>Encrypted, from an unknown key that claims to be %1, not the one remembered for that name</source>
        <translation>Cifrado, con una clave desconocida que dice ser %1, no la recordada para ese nombre</translation>
    </message>
    <message>
        <source>Encrypted, from an unknown key</source>
        <translation>Cifrado, con una clave desconocida</translation>
    </message>
    <message>
        <source>Encrypted, from an unknown key that claims to be %1</source>
        <translation>Cifrado, con una clave desconocida que dice ser %1</translation>
    </message>
    <message>
        <source>The list %1 was a link to another file, so it is not used; the link is kept as %2</source>
        <translation>La lista %1 era un enlace a otro archivo, así que no se usa; el enlace se conserva como %2</translation>
    </message>
    <message>
        <source>Calls cannot be encrypted: %1. Installing ZELMO again mends this.</source>
        <translation>Las llamadas no se pueden cifrar: %1. Volver a instalar ZELMO lo soluciona.</translation>
    </message>
</context>
<context>
    <name>TrayController</name>
    <message>
        <source>&amp;Show ZELMO</source>
        <translation>&amp;Mostrar ZELMO</translation>
    </message>
    <message>
        <source>&amp;Do Not Disturb</source>
        <translation>&amp;No molestar</translation>
    </message>
    <message>
        <source>&amp;Hang Up</source>
        <translation>&amp;Colgar</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Salir</translation>
    </message>
    <message>
        <source>ZELMO: in a call</source>
        <translation>ZELMO: en una llamada</translation>
    </message>
    <message>
        <source>ZELMO: Do Not Disturb</source>
        <translation>ZELMO: No molestar</translation>
    </message>
</context>
<context>
    <name>VideoDisplayDialog</name>
    <message>
        <source>Video Display</source>
        <translation>Pantalla de vídeo</translation>
    </message>
    <message>
        <source>Show the self view mirrored</source>
        <translation>Mostrar la vista propia en espejo</translation>
    </message>
</context>
<context>
    <name>VideoFormatDialog</name>
    <message>
        <source>Video Format</source>
        <translation>Formato de vídeo</translation>
    </message>
    <message>
        <source>No video device is connected.</source>
        <translation>No hay ningún dispositivo de vídeo conectado.</translation>
    </message>
    <message>
        <source>Automatic</source>
        <translation>Automático</translation>
    </message>
    <message>
        <source>Device:</source>
        <translation>Dispositivo:</translation>
    </message>
    <message>
        <source>Camera format:</source>
        <translation>Formato de la cámara:</translation>
    </message>
    <message>
        <source>Send video at:</source>
        <translation>Enviar vídeo a:</translation>
    </message>
</context>
<context>
    <name>VideoSourceDialog</name>
    <message>
        <source>Video Source</source>
        <translation>Origen de vídeo</translation>
    </message>
    <message>
        <source>No video device is connected.</source>
        <translation>No hay ningún dispositivo de vídeo conectado.</translation>
    </message>
    <message>
        <source>Connected device:</source>
        <translation>Dispositivo conectado:</translation>
    </message>
    <message>
        <source>Use device:</source>
        <translation>Usar el dispositivo:</translation>
    </message>
</context>
<context>
    <name>WindowShell</name>
    <message>
        <source>Please take a moment to fill in your user information and verify the setup.</source>
        <translation>Dedique un momento a rellenar sus datos de usuario y a comprobar la configuración.</translation>
    </message>
    <message>
        <source>Stop S&amp;haring</source>
        <translation>&amp;Dejar de compartir</translation>
    </message>
    <message>
        <source>Sha&amp;re Screen...</source>
        <translation>Com&amp;partir pantalla...</translation>
    </message>
</context>
<context>
    <name>X11ScreenSource</name>
    <message>
        <source>The connection to the display was lost.</source>
        <translation>Se perdió la conexión con la pantalla.</translation>
    </message>
    <message>
        <source>The shared window was closed.</source>
        <translation>Se cerró la ventana compartida.</translation>
    </message>
    <message>
        <source>The shared screen is gone.</source>
        <translation>La pantalla compartida ya no existe.</translation>
    </message>
</context>
<context>
    <name>X11TalkKey</name>
    <message>
        <source>No key of this keyboard gives %1.</source>
        <translation>Ninguna tecla de este teclado produce %1.</translation>
    </message>
    <message>
        <source>%1 is taken by another program.</source>
        <translation>%1 está ocupada por otro programa.</translation>
    </message>
    <message>
        <source>The display did not give %1.</source>
        <translation>La pantalla no concedió %1.</translation>
    </message>
    <message>
        <source>The connection to the display was lost.</source>
        <translation>Se perdió la conexión con la pantalla.</translation>
    </message>
</context>
<context>
    <name>X11Targets</name>
    <message>
        <source>Screen %1 (%2 x %3)</source>
        <translation>Pantalla %1 (%2 x %3)</translation>
    </message>
</context>
<context>
    <name>frmAbout</name>
    <message>
        <source>ZELMO for %1, %2</source>
        <translation>ZELMO para %1, %2</translation>
    </message>
    <message>
        <source>About ZELMO</source>
        <translation>Acerca de ZELMO</translation>
    </message>
    <message>
        <source>Version </source>
        <translation>Versión </translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Cerrar</translation>
    </message>
</context>
<context>
    <name>frmBusyNotify</name>
    <message>
        <source>ZELMO Incoming Call...</source>
        <translation>ZELMO – Llamada entrante...</translation>
    </message>
    <message>
        <source>A Busy signal is being sent to this Person</source>
        <translation>Se está enviando la señal de ocupado a esta persona</translation>
    </message>
    <message>
        <source>%1 of %2 called; a busy signal is being sent</source>
        <translation>%1 de %2 ha llamado; se está enviando una señal de ocupado</translation>
    </message>
</context>
<context>
    <name>frmCallIn</name>
    <message>
        <source>ZELMO Incoming Call...</source>
        <translation>ZELMO – Llamada entrante...</translation>
    </message>
    <message>
        <source>Yes</source>
        <translation>Sí</translation>
    </message>
    <message>
        <source>No</source>
        <translation>No</translation>
    </message>
    <message>
        <source>Auto Accept</source>
        <translation>Aceptar automáticamente</translation>
    </message>
    <message>
        <source>Call from %1, %2, accepted by itself</source>
        <translation>Llamada de %1, %2, aceptada automáticamente</translation>
    </message>
    <message>
        <source>Incoming call from %1, %2. %3 answers, %4 refuses</source>
        <translation>Llamada entrante de %1, %2. %3 contesta, %4 rechaza</translation>
    </message>
</context>
<context>
    <name>frmConStatus</name>
    <message>
        <source>Connecting...</source>
        <translation>Conectando...</translation>
    </message>
    <message>
        <source>Name:</source>
        <translation>Nombre:</translation>
    </message>
    <message>
        <source>From:</source>
        <translation>Desde:</translation>
    </message>
</context>
<context>
    <name>frmDirectory</name>
    <message>
        <source>ZELMO Directory</source>
        <translation>Directorio de ZELMO</translation>
    </message>
    <message>
        <source>Global Directory</source>
        <translation>Directorio global</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Nombre</translation>
    </message>
    <message>
        <source>Location</source>
        <translation>Ubicación</translation>
    </message>
    <message>
        <source>Comment</source>
        <translation>Comentario</translation>
    </message>
    <message>
        <source>People Watch Pals</source>
        <translation>Amigos a la vista</translation>
    </message>
    <message>
        <source>Online</source>
        <translation>En línea</translation>
    </message>
    <message>
        <source>Offline</source>
        <translation>Desconectados</translation>
    </message>
    <message>
        <source>Email or IP Address:</source>
        <translation>Correo o dirección IP:</translation>
    </message>
    <message>
        <source>Directory Server:</source>
        <translation>Servidor de directorio:</translation>
    </message>
    <message>
        <source>Call</source>
        <translation>Llamar</translation>
    </message>
    <message>
        <source>Send Message</source>
        <translation>Enviar mensaje</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>Actualizar</translation>
    </message>
    <message>
        <source>New Pal</source>
        <translation>Nuevo amigo</translation>
    </message>
    <message>
        <source>Delete Pal</source>
        <translation>Eliminar amigo</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Cerrar</translation>
    </message>
    <message>
        <source>Global directory</source>
        <translation>Directorio global</translation>
    </message>
    <message>
        <source>Type a name to find a user; Enter calls the user</source>
        <translation>Escriba un nombre para buscar un usuario; Intro lo llama</translation>
    </message>
    <message>
        <source>Pals on line</source>
        <translation>Amigos conectados</translation>
    </message>
    <message>
        <source>Enter calls the pal</source>
        <translation>Intro llama al amigo</translation>
    </message>
    <message>
        <source>Pals off line</source>
        <translation>Amigos desconectados</translation>
    </message>
    <message>
        <source>Key</source>
        <translation>Clave</translation>
    </message>
    <message>
        <source>Private</source>
        <translation>Privado</translation>
    </message>
    <message>
        <source>Not private</source>
        <translation>No privado</translation>
    </message>
    <message>
        <source>The connection to the directory server is encrypted</source>
        <translation>La conexión con el servidor de directorio está cifrada</translation>
    </message>
    <message>
        <source>This directory server does not encrypt: your e-mail address and name travel in clear text</source>
        <translation>Este servidor de directorio no cifra: su dirección de correo y su nombre viajan sin cifrar</translation>
    </message>
    <message>
        <source>Verified</source>
        <translation>Verificado</translation>
    </message>
    <message>
        <source>Key verified</source>
        <translation>Clave verificada</translation>
    </message>
    <message>
        <source>Key verified: this user&apos;s number and e-mail address belong to the key they logged in with</source>
        <translation>Clave verificada: el número y la dirección de correo de este usuario pertenecen a la clave con la que inició sesión</translation>
    </message>
    <message>
        <source>Directory Server Key</source>
        <translation>Clave del servidor de directorio</translation>
    </message>
    <message>
        <source>Accept the new key?</source>
        <translation>¿Aceptar la clave nueva?</translation>
    </message>
</context>
<context>
    <name>frmErrorMsg</name>
    <message>
        <source>ZELMO Error</source>
        <translation>Error de ZELMO</translation>
    </message>
</context>
<context>
    <name>frmHelp</name>
    <message>
        <source>ZELMO Help</source>
        <translation>Ayuda de ZELMO</translation>
    </message>
    <message>
        <source>Back</source>
        <translation>Atrás</translation>
    </message>
    <message>
        <source>Forward</source>
        <translation>Adelante</translation>
    </message>
    <message>
        <source>Contents</source>
        <translation>Contenido</translation>
    </message>
    <message>
        <source>Type a word</source>
        <translation>Escriba una palabra</translation>
    </message>
    <message>
        <source>&amp;Type the word you are looking for:</source>
        <translation>&amp;Escriba la palabra que busca:</translation>
    </message>
    <message>
        <source>Topics found</source>
        <translation>Temas encontrados</translation>
    </message>
    <message>
        <source>Index</source>
        <translation>Índice</translation>
    </message>
    <message>
        <source>Help page</source>
        <translation>Página de ayuda</translation>
    </message>
    <message>
        <source>Topic: %1</source>
        <translation>Tema: %1</translation>
    </message>
</context>
<context>
    <name>frmLog</name>
    <message>
        <source>Activity Log</source>
        <translation>Registro de actividad</translation>
    </message>
    <message>
        <source>Activity</source>
        <translation>Actividad</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>Borrar</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Cerrar</translation>
    </message>
    <message>
        <source>Are you sure you want to clear the Activity log?</source>
        <translation>¿Seguro que desea borrar el registro de actividad?</translation>
    </message>
    <message>
        <source>Activity log</source>
        <translation>Registro de actividad</translation>
    </message>
</context>
<context>
    <name>frmMain</name>
    <message>
        <source>Call</source>
        <translation>Llamar</translation>
    </message>
    <message>
        <source>Directory</source>
        <translation>Directorio</translation>
    </message>
    <message>
        <source>SelfView</source>
        <translation>Vista propia</translation>
    </message>
    <message>
        <source>Chat</source>
        <translation>Chat</translation>
    </message>
    <message>
        <source>Talk</source>
        <translation>Hablar</translation>
    </message>
    <message>
        <source>Connection</source>
        <translation>Conexión</translation>
    </message>
    <message>
        <source>Display User Directory</source>
        <translation>Mostrar el directorio de usuarios</translation>
    </message>
    <message>
        <source>Toggle SelfView</source>
        <translation>Activar o desactivar la vista propia</translation>
    </message>
    <message>
        <source>Text Chat</source>
        <translation>Chat de texto</translation>
    </message>
    <message>
        <source>Push to Talk</source>
        <translation>Mantener pulsado para hablar</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Archivo</translation>
    </message>
    <message>
        <source>&amp;Call</source>
        <translation>&amp;Llamar</translation>
    </message>
    <message>
        <source>&amp;Hangup</source>
        <translation>&amp;Colgar</translation>
    </message>
    <message>
        <source>&amp;Do Not Disturb</source>
        <translation>&amp;No molestar</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Salir</translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation>&amp;Ver</translation>
    </message>
    <message>
        <source>&amp;Self</source>
        <translation>&amp;Vista propia</translation>
    </message>
    <message>
        <source>&amp;Text Chat</source>
        <translation>&amp;Chat de texto</translation>
    </message>
    <message>
        <source>&amp;Zoom</source>
        <translation>&amp;Zoom</translation>
    </message>
    <message>
        <source>&amp;Log</source>
        <translation>&amp;Registro</translation>
    </message>
    <message>
        <source>&amp;Data Rates</source>
        <translation>&amp;Tasas de datos</translation>
    </message>
    <message>
        <source>&amp;Options...</source>
        <translation>&amp;Opciones...</translation>
    </message>
    <message>
        <source>&amp;Small (160x120)</source>
        <translation>&amp;Pequeño (160x120)</translation>
    </message>
    <message>
        <source>&amp;Portrait (160x240)</source>
        <translation>&amp;Vertical (160x240)</translation>
    </message>
    <message>
        <source>&amp;Normal (320x240)</source>
        <translation>&amp;Normal (320x240)</translation>
    </message>
    <message>
        <source>&amp;Very Large (400%)</source>
        <translation>&amp;Muy grande (400%)</translation>
    </message>
    <message>
        <source>&amp;Tools</source>
        <translation>&amp;Herramientas</translation>
    </message>
    <message>
        <source>&amp;File Transfer</source>
        <translation>&amp;Transferencia de archivos</translation>
    </message>
    <message>
        <source>&amp;Image Capture</source>
        <translation>Captura de &amp;imagen</translation>
    </message>
    <message>
        <source>&amp;Remote Control</source>
        <translation>Control &amp;remoto</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>A&amp;yuda</translation>
    </message>
    <message>
        <source>&amp;Contents</source>
        <translation>&amp;Contenido</translation>
    </message>
    <message>
        <source>&amp;Help Topics</source>
        <translation>&amp;Temas de ayuda</translation>
    </message>
    <message>
        <source>&amp;About...</source>
        <translation>&amp;Acerca de...</translation>
    </message>
    <message>
        <source>Microphone</source>
        <translation>Micrófono</translation>
    </message>
    <message>
        <source>Microphone level</source>
        <translation>Nivel del micrófono</translation>
    </message>
    <message>
        <source>Camera</source>
        <translation>Cámara</translation>
    </message>
    <message>
        <source>Speaker</source>
        <translation>Altavoz</translation>
    </message>
    <message>
        <source>Do Not Disturb</source>
        <translation>No molestar</translation>
    </message>
    <message>
        <source>Quick Message</source>
        <translation>Mensaje rápido</translation>
    </message>
    <message>
        <source>Activity</source>
        <translation>Actividad</translation>
    </message>
    <message>
        <source>Call time</source>
        <translation>Duración de la llamada</translation>
    </message>
    <message>
        <source>Incoming video</source>
        <translation>Vídeo entrante</translation>
    </message>
    <message>
        <source>How others reach you</source>
        <translation>Cómo le encuentran los demás</translation>
    </message>
    <message>
        <source>Not connected</source>
        <translation>No conectado</translation>
    </message>
    <message>
        <source>Quick Message (double-click to read)</source>
        <translation>Mensaje rápido (doble clic para leerlo)</translation>
    </message>
    <message>
        <source>HangUp</source>
        <translation>Colgar</translation>
    </message>
    <message>
        <source>Connected</source>
        <translation>Conectado</translation>
    </message>
    <message>
        <source>Press to hang up</source>
        <translation>Pulse para colgar</translation>
    </message>
    <message>
        <source>Microphone open</source>
        <translation>Micrófono abierto</translation>
    </message>
    <message>
        <source>Microphone closed</source>
        <translation>Micrófono cerrado</translation>
    </message>
    <message>
        <source>Camera on</source>
        <translation>Cámara encendida</translation>
    </message>
    <message>
        <source>Camera paused</source>
        <translation>Cámara en pausa</translation>
    </message>
    <message>
        <source>No camera</source>
        <translation>Sin cámara</translation>
    </message>
    <message>
        <source>Speaker on</source>
        <translation>Altavoz encendido</translation>
    </message>
    <message>
        <source>Speaker off</source>
        <translation>Altavoz apagado</translation>
    </message>
    <message>
        <source>Do not disturb on</source>
        <translation>No molestar activado</translation>
    </message>
    <message>
        <source>Do not disturb off</source>
        <translation>No molestar desactivado</translation>
    </message>
    <message>
        <source>Press to turn do not disturb on or off</source>
        <translation>Pulse para activar o desactivar No molestar</translation>
    </message>
    <message>
        <source>Quick message waiting</source>
        <translation>Mensaje rápido en espera</translation>
    </message>
    <message>
        <source>No quick message</source>
        <translation>Ningún mensaje rápido</translation>
    </message>
    <message>
        <source>Press to read the message</source>
        <translation>Pulse para leer el mensaje</translation>
    </message>
    <message>
        <source>New quick message from %1</source>
        <translation>Nuevo mensaje rápido de %1</translation>
    </message>
    <message>
        <source>Sha&amp;re Screen...</source>
        <translation>Com&amp;partir pantalla...</translation>
    </message>
</context>
<context>
    <name>frmMessage</name>
    <message>
        <source>ZELMO Information</source>
        <translation>Información de ZELMO</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>Aceptar</translation>
    </message>
</context>
<context>
    <name>frmMsgIn</name>
    <message>
        <source>Incoming Message</source>
        <translation>Mensaje recibido</translation>
    </message>
    <message>
        <source>The sender has no user number to refuse.</source>
        <translation>El remitente no tiene un número de usuario que se pueda rechazar.</translation>
    </message>
    <message>
        <source>Name:</source>
        <translation>Nombre:</translation>
    </message>
    <message>
        <source>From:</source>
        <translation>Desde:</translation>
    </message>
    <message>
        <source>E-mail:</source>
        <translation>Correo:</translation>
    </message>
    <message>
        <source>Time:</source>
        <translation>Hora:</translation>
    </message>
    <message>
        <source>Sent:</source>
        <translation>Enviado:</translation>
    </message>
    <message>
        <source>Play Audio Message</source>
        <translation>Reproducir el mensaje de sonido</translation>
    </message>
    <message>
        <source>Play</source>
        <translation>Reproducir</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Detener</translation>
    </message>
    <message>
        <source>Refuse Future Messages from this Person</source>
        <translation>Rechazar futuros mensajes de esta persona</translation>
    </message>
    <message>
        <source>Reply</source>
        <translation>Responder</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>Conectar</translation>
    </message>
    <message>
        <source>Add Pal</source>
        <translation>Añadir amigo</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Cerrar</translation>
    </message>
    <message>
        <source>Message</source>
        <translation>Mensaje</translation>
    </message>
</context>
<context>
    <name>frmMsgOut</name>
    <message>
        <source>Send Message</source>
        <translation>Enviar mensaje</translation>
    </message>
    <message>
        <source>Name:</source>
        <translation>Nombre:</translation>
    </message>
    <message>
        <source>From:</source>
        <translation>Desde:</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>Actualizar</translation>
    </message>
    <message>
        <source>Send Picture</source>
        <translation>Enviar imagen</translation>
    </message>
    <message>
        <source>Record</source>
        <translation>Grabar</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Detener</translation>
    </message>
    <message>
        <source>Play</source>
        <translation>Reproducir</translation>
    </message>
    <message>
        <source>Send Audio</source>
        <translation>Enviar sonido</translation>
    </message>
    <message>
        <source>Send</source>
        <translation>Enviar</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message>
        <source>Message</source>
        <translation>Mensaje</translation>
    </message>
    <message>
        <source>The text of the quick message; Tab moves on to the picture, the sound and Send</source>
        <translation>El texto del mensaje rápido; Tab pasa a la imagen, al sonido y a Enviar</translation>
    </message>
</context>
<context>
    <name>frmNewChat</name>
    <message>
        <source>Pane A</source>
        <translation>Panel A</translation>
    </message>
    <message>
        <source>Pane B</source>
        <translation>Panel B</translation>
    </message>
    <message>
        <source>Ring User</source>
        <translation>Llamar al timbre</translation>
    </message>
    <message>
        <source>Clear Text</source>
        <translation>Borrar el texto</translation>
    </message>
    <message>
        <source>Increase Font Size</source>
        <translation>Aumentar el tamaño de letra</translation>
    </message>
    <message>
        <source>Decrease Font Size</source>
        <translation>Reducir el tamaño de letra</translation>
    </message>
</context>
<context>
    <name>frmNewPal</name>
    <message>
        <source>OK</source>
        <translation>Aceptar</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Cerrar</translation>
    </message>
    <message>
        <source>New Pal</source>
        <translation>Nuevo amigo</translation>
    </message>
    <message>
        <source>Pal&apos;s E-Mail Address:</source>
        <translation>Correo electrónico del amigo:</translation>
    </message>
    <message>
        <source>Pal Entry</source>
        <translation>Añadir amigo</translation>
    </message>
    <message>
        <source>You must enter an email address to add this Pal</source>
        <translation>Debe escribir una dirección de correo para añadir este amigo</translation>
    </message>
</context>
<context>
    <name>frmOptions</name>
    <message>
        <source>ZELMO Properties</source>
        <translation>Propiedades de ZELMO</translation>
    </message>
    <message>
        <source>Personal</source>
        <translation>Personal</translation>
    </message>
    <message>
        <source>General</source>
        <translation>General</translation>
    </message>
    <message>
        <source>Video</source>
        <translation>Vídeo</translation>
    </message>
    <message>
        <source>Audio</source>
        <translation>Sonido</translation>
    </message>
    <message>
        <source>Messaging</source>
        <translation>Mensajes</translation>
    </message>
    <message>
        <source>Personal Information</source>
        <translation>Datos personales</translation>
    </message>
    <message>
        <source>Publish information on User Directory (except E-Mail)</source>
        <translation>Publicar los datos en el directorio de usuarios (salvo el correo)</translation>
    </message>
    <message>
        <source>This information is used to help others connect to you on a public User Directory.  E-Mail address is not Published.</source>
        <translation>Estos datos ayudan a los demás a conectar con usted en un directorio de usuarios público.  La dirección de correo no se publica.</translation>
    </message>
    <message>
        <source>&amp;Name:</source>
        <translation>&amp;Nombre:</translation>
    </message>
    <message>
        <source>&amp;E-Mail:</source>
        <translation>&amp;Correo electrónico:</translation>
    </message>
    <message>
        <source>&amp;Location:</source>
        <translation>&amp;Ubicación:</translation>
    </message>
    <message>
        <source>C&amp;omment:</source>
        <translation>C&amp;omentario:</translation>
    </message>
    <message>
        <source>User Directory</source>
        <translation>Directorio de usuarios</translation>
    </message>
    <message>
        <source>&amp;Directory Address:</source>
        <translation>&amp;Dirección del directorio:</translation>
    </message>
    <message>
        <source>Calling</source>
        <translation>Llamadas</translation>
    </message>
    <message>
        <source>Auto Accept Incoming Calls</source>
        <translation>Aceptar automáticamente las llamadas entrantes</translation>
    </message>
    <message>
        <source>Send Welcome Message upon connection</source>
        <translation>Enviar un mensaje de bienvenida al conectar</translation>
    </message>
    <message>
        <source>Enable Real Time Text Chat</source>
        <translation>Chat de texto en tiempo real</translation>
    </message>
    <message>
        <source>&amp;Message:</source>
        <translation>&amp;Mensaje:</translation>
    </message>
    <message>
        <source>Windows</source>
        <translation>Ventanas</translation>
    </message>
    <message>
        <source>Save Main Window Position</source>
        <translation>Guardar la posición de la ventana principal</translation>
    </message>
    <message>
        <source>Move Self View with Main Window</source>
        <translation>Mover la vista propia con la ventana principal</translation>
    </message>
    <message>
        <source>Remember window Status</source>
        <translation>Recordar el estado de las ventanas</translation>
    </message>
    <message>
        <source>Video Device</source>
        <translation>Dispositivo de vídeo</translation>
    </message>
    <message>
        <source>&amp;Format...</source>
        <translation>&amp;Formato...</translation>
    </message>
    <message>
        <source>So&amp;urce...</source>
        <translation>&amp;Origen...</translation>
    </message>
    <message>
        <source>&amp;Display...</source>
        <translation>&amp;Pantalla...</translation>
    </message>
    <message>
        <source>&amp;Device:</source>
        <translation>&amp;Dispositivo:</translation>
    </message>
    <message>
        <source>Picture Quality</source>
        <translation>Calidad de imagen</translation>
    </message>
    <message>
        <source>Clearer Video</source>
        <translation>Imagen más nítida</translation>
    </message>
    <message>
        <source>Better Motion</source>
        <translation>Movimiento más fluido</translation>
    </message>
    <message>
        <source>Image Message</source>
        <translation>Mensaje en la imagen</translation>
    </message>
    <message>
        <source>Put a message in my outgoing video</source>
        <translation>Poner un mensaje en mi vídeo saliente</translation>
    </message>
    <message>
        <source>M&amp;essage:</source>
        <translation>M&amp;ensaje:</translation>
    </message>
    <message>
        <source>Sound Quality</source>
        <translation>Calidad de sonido</translation>
    </message>
    <message>
        <source>Phone Quality (13.2 kbps)</source>
        <translation>Calidad telefónica (13,2 kbps)</translation>
    </message>
    <message>
        <source>Radio Quality (6.6 kbps)</source>
        <translation>Calidad de radio (6,6 kbps)</translation>
    </message>
    <message>
        <source>Sound Test</source>
        <translation>Prueba de sonido</translation>
    </message>
    <message>
        <source>&amp;Record</source>
        <translation>&amp;Grabar</translation>
    </message>
    <message>
        <source>&amp;Stop</source>
        <translation>&amp;Detener</translation>
    </message>
    <message>
        <source>&amp;Play</source>
        <translation>&amp;Reproducir</translation>
    </message>
    <message>
        <source>Recorded sound</source>
        <translation>Sonido grabado</translation>
    </message>
    <message>
        <source>Record a few words, stop, and play them back to hear how you sound to others.</source>
        <translation>Grabe unas palabras, detenga la grabación y reprodúzcalas para oír cómo le oyen los demás.</translation>
    </message>
    <message>
        <source>Speaker Volume</source>
        <translation>Volumen del altavoz</translation>
    </message>
    <message>
        <source>Speaker volume</source>
        <translation>Volumen del altavoz</translation>
    </message>
    <message>
        <source>Soft</source>
        <translation>Bajo</translation>
    </message>
    <message>
        <source>Loud</source>
        <translation>Alto</translation>
    </message>
    <message>
        <source>Disable all Quick Messages</source>
        <translation>Desactivar todos los mensajes rápidos</translation>
    </message>
    <message>
        <source>Refuse List</source>
        <translation>Lista de rechazos</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Nombre</translation>
    </message>
    <message>
        <source>Email</source>
        <translation>Correo</translation>
    </message>
    <message>
        <source>&amp;Remove</source>
        <translation>&amp;Quitar</translation>
    </message>
    <message>
        <source>All users on this will not be able to send Quick Messages to you. To add someone to this list select &quot;Refuse Message&quot; when a message is received from the user.</source>
        <translation>Ningún usuario de esta lista podrá enviarle mensajes rápidos. Para añadir a alguien, marque «Rechazar futuros mensajes de esta persona» cuando reciba un mensaje suyo.</translation>
    </message>
    <message>
        <source>No video device found</source>
        <translation>No se encontró ningún dispositivo de vídeo</translation>
    </message>
    <message>
        <source>Use only the published picture and sound formats</source>
        <translation>Usar solo los formatos de imagen y sonido publicados</translation>
    </message>
    <message>
        <source>Calls with another ZELMO of this version then use JPEG pictures and GSM sound, as calls with older programs do. Holds from the next call.</source>
        <translation>Las llamadas con otro ZELMO de esta versión usarán entonces imágenes JPEG y sonido GSM, como las llamadas con programas más antiguos. Vale desde la próxima llamada.</translation>
    </message>
</context>
<context>
    <name>frmRates</name>
    <message>
        <source>Data Rates</source>
        <translation>Tasas de datos</translation>
    </message>
    <message>
        <source>Input Frame Rate:</source>
        <translation>Imágenes por segundo recibidas:</translation>
    </message>
    <message>
        <source>(fps)</source>
        <translation>(fps)</translation>
    </message>
    <message>
        <source>Output Frame Rate:</source>
        <translation>Imágenes por segundo enviadas:</translation>
    </message>
    <message>
        <source>Input Throughput:</source>
        <translation>Caudal recibido:</translation>
    </message>
    <message>
        <source>(bps)</source>
        <translation>(bps)</translation>
    </message>
    <message>
        <source>Output Throughput:</source>
        <translation>Caudal enviado:</translation>
    </message>
    <message>
        <source>Captured Video:</source>
        <translation>Vídeo capturado:</translation>
    </message>
    <message>
        <source>Output Quality:</source>
        <translation>Calidad enviada:</translation>
    </message>
    <message>
        <source>(JPEG)</source>
        <translation>(JPEG)</translation>
    </message>
    <message>
        <source>Output Picture:</source>
        <translation>Imagen enviada:</translation>
    </message>
    <message>
        <source>(pixels)</source>
        <translation>(píxeles)</translation>
    </message>
    <message>
        <source>Formats:</source>
        <translation>Formatos:</translation>
    </message>
    <message>
        <source>Path Estimate:</source>
        <translation>Estimación de la línea:</translation>
    </message>
    <message>
        <source>(kbps)</source>
        <translation>(kbit/s)</translation>
    </message>
    <message>
        <source>Lost:</source>
        <translation>Perdidos:</translation>
    </message>
    <message>
        <source>(frames)</source>
        <translation>(imágenes)</translation>
    </message>
</context>
<context>
    <name>frmRedirect</name>
    <message>
        <source>Yes</source>
        <translation>Sí</translation>
    </message>
    <message>
        <source>No</source>
        <translation>No</translation>
    </message>
    <message>
        <source>Directory Redirect</source>
        <translation>Redirección del directorio</translation>
    </message>
    <message>
        <source>The directory server suggests another directory server. Do you want to move there?</source>
        <translation>El servidor de directorio sugiere otro servidor de directorio. ¿Desea pasar a él?</translation>
    </message>
</context>
<context>
    <name>frmSelf</name>
    <message>
        <source>Self View</source>
        <translation>Vista propia</translation>
    </message>
    <message>
        <source>Pause or resume the camera</source>
        <translation>Pausar o reanudar la cámara</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Ajustes</translation>
    </message>
    <message>
        <source>Video settings</source>
        <translation>Ajustes de vídeo</translation>
    </message>
    <message>
        <source>Resume the camera</source>
        <translation>Reanudar la cámara</translation>
    </message>
    <message>
        <source>Pause the camera</source>
        <translation>Pausar la cámara</translation>
    </message>
    <message>
        <source>Share Screen</source>
        <translation>Compartir pantalla</translation>
    </message>
    <message>
        <source>Show your screen or a window to the other side instead of the camera</source>
        <translation>Mostrar al otro lado su pantalla o una ventana en lugar de la cámara</translation>
    </message>
    <message>
        <source>Sharing your screen</source>
        <translation>Compartiendo su pantalla</translation>
    </message>
    <message>
        <source>Stop Sharing</source>
        <translation>Dejar de compartir</translation>
    </message>
    <message>
        <source>Show the camera again</source>
        <translation>Volver a mostrar la cámara</translation>
    </message>
    <message>
        <source>Sharing your screen: %1</source>
        <translation>Compartiendo su pantalla: %1</translation>
    </message>
</context>
<context>
    <name>frmSplash</name>
    <message>
        <source>Version </source>
        <translation>Versión </translation>
    </message>
    <message>
        <source>Video calls, person to person</source>
        <translation>Videollamadas, de persona a persona</translation>
    </message>
</context>
</TS>
