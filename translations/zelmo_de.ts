<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>AudioControl</name>
    <message>
        <source>You cannot test the audio while being connected to another user.</source>
        <translation>Während einer Verbindung mit einem anderen Benutzer kann der Ton nicht getestet werden.</translation>
    </message>
</context>
<context>
    <name>AudioRoute</name>
    <message>
        <source>none</source>
        <translation>keines</translation>
    </message>
    <message>
        <source>The microphone &quot;%1&quot; went away; now using %2</source>
        <translation>Das Mikrofon „%1“ ist nicht mehr da; jetzt wird %2 verwendet</translation>
    </message>
    <message>
        <source>The speaker &quot;%1&quot; went away; now using %2</source>
        <translation>Der Lautsprecher „%1“ ist nicht mehr da; jetzt wird %2 verwendet</translation>
    </message>
</context>
<context>
    <name>AudioSetup</name>
    <message>
        <source>Could not save the sound choices: %1</source>
        <translation>Die Toneinstellungen konnten nicht gespeichert werden: %1</translation>
    </message>
</context>
<context>
    <name>AudioSetupGroup</name>
    <message>
        <source>Microphone and Speaker</source>
        <translation>Mikrofon und Lautsprecher</translation>
    </message>
    <message>
        <source>Microphone level</source>
        <translation>Mikrofonpegel</translation>
    </message>
    <message>
        <source>How loud the microphone is while it is open (record a sound test to try it)</source>
        <translation>Wie laut das Mikrofon ist, während es offen ist (zum Ausprobieren einen Tontest aufnehmen)</translation>
    </message>
    <message>
        <source>Cancel the echo of the other side&apos;s voice</source>
        <translation>Echo der Stimme der Gegenseite unterdrücken</translation>
    </message>
    <message>
        <source>Suppress steady noise (fans, hum)</source>
        <translation>Gleichmäßige Geräusche unterdrücken (Lüfter, Brummen)</translation>
    </message>
    <message>
        <source>Even out my voice&apos;s level</source>
        <translation>Lautstärke meiner Stimme ausgleichen</translation>
    </message>
    <message>
        <source>&amp;Microphone:</source>
        <translation>&amp;Mikrofon:</translation>
    </message>
    <message>
        <source>Level:</source>
        <translation>Pegel:</translation>
    </message>
    <message>
        <source>S&amp;peaker:</source>
        <translation>&amp;Lautsprecher:</translation>
    </message>
    <message>
        <source>System default</source>
        <translation>Systemstandard</translation>
    </message>
    <message>
        <source>System default (%1)</source>
        <translation>Systemstandard (%1)</translation>
    </message>
    <message>
        <source>%1 (not connected)</source>
        <translation>%1 (nicht angeschlossen)</translation>
    </message>
</context>
<context>
    <name>CallControl</name>
    <message>
        <source>Select a user on the list or enter an E-Mail or IP Address to place a call.</source>
        <translation>Wählen Sie einen Benutzer in der Liste oder geben Sie eine E-Mail- oder IP-Adresse ein, um anzurufen.</translation>
    </message>
    <message>
        <source>A call from %1 (%2) was refused: it was not encrypted, and only encrypted calls are accepted (Options).</source>
        <translation>Ein Anruf von %1 (%2) wurde abgewiesen: Er war nicht verschlüsselt, und es werden nur verschlüsselte Anrufe angenommen (Optionen).</translation>
    </message>
    <message>
        <source>You have entered an invalid Host Address: </source>
        <translation>Sie haben eine ungültige Host-Adresse eingegeben: </translation>
    </message>
    <message>
        <source>Call: %1, Time in %2 is %3.</source>
        <translation>Anruf: %1, Ortszeit in %2: %3.</translation>
    </message>
</context>
<context>
    <name>CallPath</name>
    <message>
        <source>direct</source>
        <translation>direkt</translation>
    </message>
    <message>
        <source>through the routers</source>
        <translation>durch die Router</translation>
    </message>
    <message>
        <source>relayed</source>
        <translation>über ein Relais</translation>
    </message>
</context>
<context>
    <name>CallPrompt</name>
    <message>
        <source>Would you like to accept this call?</source>
        <translation>Möchten Sie diesen Anruf annehmen?</translation>
    </message>
    <message>
        <source>Auto Accepting this Call</source>
        <translation>Dieser Anruf wird automatisch angenommen</translation>
    </message>
    <message>
        <source>Auto-Declining Call in %1 Seconds.</source>
        <translation>Anruf wird in %1 Sekunden automatisch abgelehnt.</translation>
    </message>
</context>
<context>
    <name>CallSecurity</name>
    <message>
        <source>not encrypted: the encrypted connection failed</source>
        <translation>nicht verschlüsselt: Die verschlüsselte Verbindung ist fehlgeschlagen</translation>
    </message>
    <message>
        <source>not encrypted, although this address used encryption before</source>
        <translation>nicht verschlüsselt, obwohl diese Adresse früher verschlüsselt hat</translation>
    </message>
    <message>
        <source>not encrypted: the other program is an older version</source>
        <translation>nicht verschlüsselt: Das andere Programm ist eine ältere Version</translation>
    </message>
    <message>
        <source>Warning: %1 now shows another key than in earlier calls. Someone may be listening in between: compare the short code before you trust this call.</source>
        <translation>Warnung: %1 zeigt jetzt einen anderen Schlüssel als bei früheren Anrufen. Vielleicht hört jemand dazwischen mit: Vergleichen Sie den Kurzcode, bevor Sie diesem Anruf vertrauen.</translation>
    </message>
    <message>
        <source>verified</source>
        <translation>verifiziert</translation>
    </message>
    <message>
        <source>key changed, not verified</source>
        <translation>Schlüssel geändert, nicht verifiziert</translation>
    </message>
    <message>
        <source>not verified</source>
        <translation>nicht verifiziert</translation>
    </message>
</context>
<context>
    <name>CallerPanel</name>
    <message>
        <source>Name:</source>
        <translation>Name:</translation>
    </message>
    <message>
        <source>From:</source>
        <translation>Aus:</translation>
    </message>
</context>
<context>
    <name>CaptureControl</name>
    <message>
        <source>Another application is using the Video device or has failed to properly release the Video Capture device driver.  Close the application or Reboot your computer and run ZELMO again to fix this problem.</source>
        <translation>Eine andere Anwendung verwendet das Videogerät oder hat den Treiber des Videoaufnahmegeräts nicht richtig freigegeben.  Schließen Sie die Anwendung oder starten Sie den Computer neu und starten Sie ZELMO erneut, um das Problem zu beheben.</translation>
    </message>
    <message>
        <source>Another application is using the Video device or has failed to properly release the Video Capture device driver.  Close the application or Reboot your computer and run again to fix this problem.</source>
        <translation>Eine andere Anwendung verwendet das Videogerät oder hat den Treiber des Videoaufnahmegeräts nicht richtig freigegeben.  Schließen Sie die Anwendung oder starten Sie den Computer neu und versuchen Sie es erneut, um das Problem zu beheben.</translation>
    </message>
    <message>
        <source>The video format is not correct.  Set your Video size to 160x120, 320x240, QCIF or CIF.  The following formats are supported: 12bit YUV, Indeo Raw, 4 bit (16 greys), 6 bit (64 greys), 8 bit (256 greys), 16 bit (Thousands of Colors, RGBH) and 24 bit (Millions of Colors, RGBT)</source>
        <translation>Das Videoformat ist nicht richtig.  Stellen Sie die Videogröße auf 160x120, 320x240, QCIF oder CIF.  Folgende Formate werden unterstützt: 12 Bit YUV, Indeo Raw, 4 Bit (16 Graustufen), 6 Bit (64 Graustufen), 8 Bit (256 Graustufen), 16 Bit (Tausende Farben, RGBH) und 24 Bit (Millionen Farben, RGBT)</translation>
    </message>
</context>
<context>
    <name>ChatSession</name>
    <message>
        <source>Text Chat</source>
        <translation>Text-Chat</translation>
    </message>
    <message>
        <source>
&lt;End of Connection&gt;
</source>
        <translation>
&lt;Ende der Verbindung&gt;
</translation>
    </message>
</context>
<context>
    <name>ConnectProgress</name>
    <message>
        <source>Establishing Connection...</source>
        <translation>Verbindung wird aufgebaut...</translation>
    </message>
    <message>
        <source>Connection Made...Requesting</source>
        <translation>Verbunden...Anfrage läuft</translation>
    </message>
    <message>
        <source>Connection Response is NO</source>
        <translation>Antwort auf die Verbindung: NEIN</translation>
    </message>
    <message>
        <source>Connection Response is YES</source>
        <translation>Antwort auf die Verbindung: JA</translation>
    </message>
    <message>
        <source>Busy</source>
        <translation>Besetzt</translation>
    </message>
    <message>
        <source>Connection Canceled</source>
        <translation>Verbindung abgebrochen</translation>
    </message>
    <message>
        <source>Did Not Answer</source>
        <translation>Keine Antwort</translation>
    </message>
    <message>
        <source>could not connect</source>
        <translation>keine Verbindung möglich</translation>
    </message>
    <message>
        <source>Looking up Email Address</source>
        <translation>E-Mail-Adresse wird gesucht</translation>
    </message>
    <message>
        <source>Email address not found</source>
        <translation>E-Mail-Adresse nicht gefunden</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>IDLE</source>
        <translation>INAKTIV</translation>
    </message>
</context>
<context>
    <name>DesktopIntegration</name>
    <message>
        <source>Could not save the desktop choices: %1</source>
        <translation>Die Desktop-Einstellungen konnten nicht gespeichert werden: %1</translation>
    </message>
</context>
<context>
    <name>DesktopOptionsGroup</name>
    <message>
        <source>Desktop</source>
        <translation>Desktop</translation>
    </message>
    <message>
        <source>Notify me of calls, messages and the chat bell while ZELMO is in the background</source>
        <translation>Über Anrufe, Nachrichten und die Chat-Klingel benachrichtigen, während ZELMO im Hintergrund ist</translation>
    </message>
    <message>
        <source>Show ZELMO in the system tray</source>
        <translation>ZELMO im Systembereich der Kontrollleiste anzeigen</translation>
    </message>
    <message>
        <source>None</source>
        <translation>Keine</translation>
    </message>
    <message>
        <source>&amp;Talk key:</source>
        <translation>&amp;Sprechtaste:</translation>
    </message>
    <message>
        <source>This desktop shows no tray now; the icon appears if one starts.</source>
        <translation>Dieser Desktop zeigt zurzeit keinen Systembereich; das Symbol erscheint, sobald einer startet.</translation>
    </message>
    <message>
        <source>System</source>
        <translation>System</translation>
    </message>
    <message>
        <source>Light</source>
        <translation>Hell</translation>
    </message>
    <message>
        <source>Dark</source>
        <translation>Dunkel</translation>
    </message>
    <message>
        <source>System follows the desktop&apos;s light or dark colour scheme</source>
        <translation>System folgt dem hellen oder dunklen Farbschema des Desktops</translation>
    </message>
    <message>
        <source>&amp;Colours:</source>
        <translation>&amp;Farben:</translation>
    </message>
</context>
<context>
    <name>DirectoryDialer</name>
    <message>
        <source>The key of the directory server at %1 has changed: nothing was sent. Accept the new key only if its operator changed it.</source>
        <translation>Der Schlüssel des Verzeichnisservers %1 hat sich geändert: Es wurde nichts gesendet. Nehmen Sie den neuen Schlüssel nur an, wenn sein Betreiber ihn geändert hat.</translation>
    </message>
    <message>
        <source>The directory server at %1 did not answer encrypted as before: nothing was sent.</source>
        <translation>Der Verzeichnisserver %1 hat nicht wie bisher verschlüsselt geantwortet: Es wurde nichts gesendet.</translation>
    </message>
</context>
<context>
    <name>DirectoryService</name>
    <message>
        <source>Establishing Connection with </source>
        <translation>Verbindung wird aufgebaut mit </translation>
    </message>
    <message>
        <source>You must be connected to the Internet before you can use the Directory</source>
        <translation>Sie müssen mit dem Internet verbunden sein, um das Verzeichnis zu verwenden</translation>
    </message>
    <message>
        <source>Directory Server Address is invalid: </source>
        <translation>Die Adresse des Verzeichnisservers ist ungültig: </translation>
    </message>
    <message>
        <source>Type in IP Address for Connection</source>
        <translation>IP-Adresse für die Verbindung eingeben</translation>
    </message>
    <message>
        <source>Requesting User List</source>
        <translation>Benutzerliste wird angefordert</translation>
    </message>
    <message>
        <source>Refreshing Directory List</source>
        <translation>Verzeichnisliste wird aktualisiert</translation>
    </message>
    <message>
        <source>Unable to contact Directory Server</source>
        <translation>Verzeichnisserver nicht erreichbar</translation>
    </message>
    <message>
        <source>Connected to Directory Server</source>
        <translation>Mit dem Verzeichnisserver verbunden</translation>
    </message>
    <message>
        <source>Processing User List</source>
        <translation>Benutzerliste wird verarbeitet</translation>
    </message>
    <message>
        <source> Users Online</source>
        <translation> Benutzer online</translation>
    </message>
    <message>
        <source> Users Listed</source>
        <translation> Benutzer aufgeführt</translation>
    </message>
    <message>
        <source>Select User for Connection</source>
        <translation>Benutzer für die Verbindung wählen</translation>
    </message>
    <message>
        <source>This person is using an older version. You cannot send a message to an older version.</source>
        <translation>Diese Person verwendet eine ältere Version. An eine ältere Version können Sie keine Nachricht senden.</translation>
    </message>
    <message>
        <source>Select a user to send message.</source>
        <translation>Wählen Sie einen Benutzer, um eine Nachricht zu senden.</translation>
    </message>
</context>
<context>
    <name>GlobalTalkKey</name>
    <message>
        <source>This desktop offers no key that works while another window has the focus.</source>
        <translation>Dieser Desktop bietet keine Taste, die funktioniert, während ein anderes Fenster den Fokus hat.</translation>
    </message>
    <message>
        <source>Asking the desktop whether it offers global keys...</source>
        <translation>Der Desktop wird gefragt, ob er globale Tasten anbietet...</translation>
    </message>
    <message>
        <source>No talk key: hold the Talk button to talk.</source>
        <translation>Keine Sprechtaste: Halten Sie zum Sprechen die Schaltfläche Sprechen gedrückt.</translation>
    </message>
    <message>
        <source>Waiting for the desktop to give %1...</source>
        <translation>Warten, bis der Desktop %1 freigibt...</translation>
    </message>
    <message>
        <source>Hold %1 to talk, whichever window has the focus.</source>
        <translation>Halten Sie %1 gedrückt, um zu sprechen, egal welches Fenster den Fokus hat.</translation>
    </message>
</context>
<context>
    <name>HotKey</name>
    <message>
        <source>Pause</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>Scroll Lock</source>
        <translation>Rollen</translation>
    </message>
    <message>
        <source>Insert</source>
        <translation>Einfg</translation>
    </message>
    <message>
        <source>Menu</source>
        <translation>Menü</translation>
    </message>
    <message>
        <source>Right Ctrl</source>
        <translation>Strg rechts</translation>
    </message>
    <message>
        <source>Right Shift</source>
        <translation>Umschalt rechts</translation>
    </message>
    <message>
        <source>Right Super</source>
        <translation>Super rechts</translation>
    </message>
</context>
<context>
    <name>Identity</name>
    <message>
        <source>The key file %1 is damaged and cannot be used. ZELMO makes a new key and keeps the old file as %2. Peers who knew your old key will be told that your key changed.</source>
        <translation>Die Schlüsseldatei %1 ist beschädigt und kann nicht verwendet werden. ZELMO erzeugt einen neuen Schlüssel und bewahrt die alte Datei als %2 auf. Gegenstellen, die Ihren alten Schlüssel kannten, erfahren, dass sich Ihr Schlüssel geändert hat.</translation>
    </message>
    <message>
        <source>The key file %1 could be read by other users of this computer, so it is not used any more. ZELMO makes a new key and keeps the old file as %2. Peers who knew your old key will be told that your key changed.</source>
        <translation>Die Schlüsseldatei %1 war für andere Benutzer dieses Computers lesbar und wird daher nicht mehr verwendet. ZELMO erzeugt einen neuen Schlüssel und bewahrt die alte Datei als %2 auf. Gegenstellen, die Ihren alten Schlüssel kannten, erfahren, dass sich Ihr Schlüssel geändert hat.</translation>
    </message>
    <message>
        <source>Not a key this program can use</source>
        <translation>Kein Schlüssel, den dieses Programm verwenden kann</translation>
    </message>
    <message>
        <source>The old key file could not be set aside</source>
        <translation>Die alte Schlüsseldatei konnte nicht beiseitegelegt werden</translation>
    </message>
    <message>
        <source>The encryption library could not use its new key</source>
        <translation>Die Verschlüsselungsbibliothek konnte den neuen Schlüssel nicht verwenden</translation>
    </message>
    <message>
        <source>The key file %1 is a link to another file, so it is not used. ZELMO makes a new key and keeps the link as %2. Peers who knew your old key will be told that your key changed.</source>
        <translation>Die Schlüsseldatei %1 ist eine Verknüpfung auf eine andere Datei und wird daher nicht verwendet. ZELMO erzeugt einen neuen Schlüssel und bewahrt die Verknüpfung als %2 auf. Gegenstellen, die Ihren alten Schlüssel kannten, erfahren, dass sich Ihr Schlüssel geändert hat.</translation>
    </message>
</context>
<context>
    <name>MainWindowController</name>
    <message>
        <source>You must enter a name of at least 3 Characters in length.  </source>
        <translation>Sie müssen einen Namen mit mindestens 3 Zeichen eingeben.  </translation>
    </message>
</context>
<context>
    <name>MediaConnection</name>
    <message>
        <source>You have entered an invalid Host Address: </source>
        <translation>Sie haben eine ungültige Host-Adresse eingegeben: </translation>
    </message>
</context>
<context>
    <name>MediaFormatChoice</name>
    <message>
        <source>The choice of picture and sound formats could not be saved: %1</source>
        <translation>Die Wahl der Bild- und Tonformate konnte nicht gespeichert werden: %1</translation>
    </message>
</context>
<context>
    <name>MediaSession</name>
    <message>
        <source>The text was not sent: %1 lines are still waiting to go out. Please send it again in a moment.</source>
        <translation>Der Text wurde nicht gesendet: %1 Zeilen warten noch auf den Versand. Bitte senden Sie ihn gleich noch einmal.</translation>
    </message>
    <message>
        <source>Text Chat - </source>
        <translation>Text-Chat - </translation>
    </message>
    <message>
        <source>Text Chat</source>
        <translation>Text-Chat</translation>
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
        <translation>Nachricht nicht zugestellt: Die Verbindung wurde geschlossen</translation>
    </message>
    <message>
        <source>Establishing Connection...</source>
        <translation>Verbindung wird aufgebaut...</translation>
    </message>
    <message>
        <source>You have entered an invalid Host Address: </source>
        <translation>Sie haben eine ungültige Host-Adresse eingegeben: </translation>
    </message>
    <message>
        <source>Failed to Establish Connection</source>
        <translation>Verbindung konnte nicht aufgebaut werden</translation>
    </message>
    <message>
        <source>Connection Established</source>
        <translation>Verbindung hergestellt</translation>
    </message>
    <message>
        <source>Sending Message</source>
        <translation>Nachricht wird gesendet</translation>
    </message>
    <message>
        <source>Message Refused from User</source>
        <translation>Nachricht vom Benutzer abgelehnt</translation>
    </message>
    <message>
        <source>Transmitting Picture</source>
        <translation>Bild wird übertragen</translation>
    </message>
    <message>
        <source>Transmitting Audio</source>
        <translation>Ton wird übertragen</translation>
    </message>
</context>
<context>
    <name>MessageService</name>
    <message>
        <source>Could not save Refuse List data File, </source>
        <translation>Die Datei der Sperrliste konnte nicht gespeichert werden, </translation>
    </message>
</context>
<context>
    <name>Notifier</name>
    <message>
        <source>%1 is calling</source>
        <translation>%1 ruft an</translation>
    </message>
    <message>
        <source>%1, %2 is calling</source>
        <translation>%1, %2 ruft an</translation>
    </message>
    <message>
        <source>Auto Accepting this Call</source>
        <translation>Dieser Anruf wird automatisch angenommen</translation>
    </message>
    <message>
        <source>Would you like to accept this call?</source>
        <translation>Möchten Sie diesen Anruf annehmen?</translation>
    </message>
    <message>
        <source>Answer</source>
        <translation>Annehmen</translation>
    </message>
    <message>
        <source>Decline</source>
        <translation>Ablehnen</translation>
    </message>
    <message>
        <source>Show</source>
        <translation>Anzeigen</translation>
    </message>
    <message>
        <source>Quick Message</source>
        <translation>Kurznachricht</translation>
    </message>
    <message>
        <source>Quick Message from %1</source>
        <translation>Kurznachricht von %1</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Öffnen</translation>
    </message>
    <message>
        <source>Text Chat</source>
        <translation>Text-Chat</translation>
    </message>
    <message>
        <source>Text Chat - </source>
        <translation>Text-Chat - </translation>
    </message>
    <message>
        <source>The chat bell rang.</source>
        <translation>Die Chat-Klingel hat geläutet.</translation>
    </message>
    <message>
        <source>%1 rang the chat bell.</source>
        <translation>%1 hat die Chat-Klingel geläutet.</translation>
    </message>
    <message>
        <source>Show Chat</source>
        <translation>Chat anzeigen</translation>
    </message>
</context>
<context>
    <name>OptionsLogic</name>
    <message>
        <source>You must enter a name of at least 3 Characters in length.</source>
        <translation>Sie müssen einen Namen mit mindestens 3 Zeichen eingeben.</translation>
    </message>
    <message>
        <source>You must enter an Email Address of at least 8 Characters in length.</source>
        <translation>Sie müssen eine E-Mail-Adresse mit mindestens 8 Zeichen eingeben.</translation>
    </message>
    <message>
        <source>This option cannot be changed while you are in a connection. Please disconnect to set this option.</source>
        <translation>Diese Option kann während einer Verbindung nicht geändert werden. Bitte trennen Sie die Verbindung, um sie einzustellen.</translation>
    </message>
    <message>
        <source>Could not save Refuse List data File, </source>
        <translation>Die Datei der Sperrliste konnte nicht gespeichert werden, </translation>
    </message>
</context>
<context>
    <name>PalService</name>
    <message>
        <source>Could not save the user number, </source>
        <translation>Die Benutzernummer konnte nicht gespeichert werden, </translation>
    </message>
    <message>
        <source>Pal Entry</source>
        <translation>Freund eintragen</translation>
    </message>
    <message>
        <source>Your pal list is full: it holds %1 pals. Delete a pal before adding another.</source>
        <translation>Ihre Freundesliste ist voll: Sie enthält %1 Freunde. Löschen Sie einen Freund, bevor Sie einen weiteren hinzufügen.</translation>
    </message>
    <message>
        <source>Could not save Pal File, </source>
        <translation>Die Freundesdatei konnte nicht gespeichert werden, </translation>
    </message>
</context>
<context>
    <name>PathDialer</name>
    <message>
        <source>The path to the peer is gone</source>
        <translation>Der Weg zur Gegenstelle ist nicht mehr da</translation>
    </message>
    <message>
        <source>The path to the peer is in use</source>
        <translation>Der Weg zur Gegenstelle ist belegt</translation>
    </message>
</context>
<context>
    <name>PathFinder</name>
    <message>
        <source>The directory server could not pass the call on</source>
        <translation>Der Verzeichnisserver konnte den Anruf nicht weiterreichen</translation>
    </message>
    <message>
        <source>The person is not logged in to the directory server</source>
        <translation>Die Person ist nicht beim Verzeichnisserver angemeldet</translation>
    </message>
    <message>
        <source>No path to the person could be found (%1)</source>
        <translation>Es wurde kein Weg zu der Person gefunden (%1)</translation>
    </message>
    <message>
        <source>The connection to the directory server was lost</source>
        <translation>Die Verbindung zum Verzeichnisserver ging verloren</translation>
    </message>
</context>
<context>
    <name>PipeWireScreenSource</name>
    <message>
        <source>Shared screen</source>
        <translation>Geteilter Bildschirm</translation>
    </message>
    <message>
        <source>The desktop&apos;s picture failed: %1</source>
        <translation>Das Bild des Desktops ist fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>The desktop stopped sending the picture.</source>
        <translation>Der Desktop sendet das Bild nicht mehr.</translation>
    </message>
    <message>
        <source>The connection to the desktop&apos;s picture was lost.</source>
        <translation>Die Verbindung zum Bild des Desktops ging verloren.</translation>
    </message>
</context>
<context>
    <name>PortalScreenCast</name>
    <message>
        <source>The desktop offers no screen sharing.</source>
        <translation>Der Desktop bietet keine Bildschirmfreigabe an.</translation>
    </message>
    <message>
        <source>The desktop&apos;s screen sharing failed: %1</source>
        <translation>Die Bildschirmfreigabe des Desktops ist fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>Screen sharing was cancelled in the desktop&apos;s dialog.</source>
        <translation>Die Bildschirmfreigabe wurde im Dialog des Desktops abgebrochen.</translation>
    </message>
    <message>
        <source>The desktop could not share the screen.</source>
        <translation>Der Desktop konnte den Bildschirm nicht freigeben.</translation>
    </message>
    <message>
        <source>The desktop shared nothing.</source>
        <translation>Der Desktop hat nichts freigegeben.</translation>
    </message>
    <message>
        <source>The desktop gave no picture of the screen.</source>
        <translation>Der Desktop hat kein Bild des Bildschirms geliefert.</translation>
    </message>
</context>
<context>
    <name>PortalTalkKey</name>
    <message>
        <source>Push to talk in ZELMO</source>
        <translation>Sprechen in ZELMO (gedrückt halten)</translation>
    </message>
    <message>
        <source>The desktop&apos;s shortcut service failed: %1</source>
        <translation>Der Tastenkürzeldienst des Desktops ist fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>The desktop did not open a shortcut session.</source>
        <translation>Der Desktop hat keine Tastenkürzel-Sitzung geöffnet.</translation>
    </message>
    <message>
        <source>The talk key was turned down in the desktop&apos;s dialog.</source>
        <translation>Die Sprechtaste wurde im Dialog des Desktops abgelehnt.</translation>
    </message>
    <message>
        <source>The desktop refused the talk key.</source>
        <translation>Der Desktop hat die Sprechtaste verweigert.</translation>
    </message>
    <message>
        <source>The desktop did not bind the talk key.</source>
        <translation>Der Desktop hat die Sprechtaste nicht zugewiesen.</translation>
    </message>
    <message>
        <source>The desktop ended the talk key&apos;s session.</source>
        <translation>Der Desktop hat die Sitzung der Sprechtaste beendet.</translation>
    </message>
</context>
<context>
    <name>Program</name>
    <message>
        <source>Failed to start text Listen Daemon 4: </source>
        <translation>Empfangsdienst 4 (Text) konnte nicht gestartet werden: </translation>
    </message>
    <message>
        <source>Failed to init TCP/IP Stack:</source>
        <translation>TCP/IP-Stack konnte nicht eingerichtet werden:</translation>
    </message>
    <message>
        <source>Failed to start Listen Daemon 1: </source>
        <translation>Empfangsdienst 1 konnte nicht gestartet werden: </translation>
    </message>
    <message>
        <source>Failed to start Listen Daemon 2: </source>
        <translation>Empfangsdienst 2 konnte nicht gestartet werden: </translation>
    </message>
    <message>
        <source>Failed to start Listen Daemon 3: </source>
        <translation>Empfangsdienst 3 konnte nicht gestartet werden: </translation>
    </message>
    <message>
        <source>You must connect to the Internet before running ZELMO. Please connect to the Internet and run ZELMO again.</source>
        <translation>Sie müssen mit dem Internet verbunden sein, bevor Sie ZELMO starten. Bitte verbinden Sie sich mit dem Internet und starten Sie ZELMO erneut.</translation>
    </message>
    <message>
        <source>You must cancel the connection that is being established before exiting.</source>
        <translation>Sie müssen die Verbindung, die gerade aufgebaut wird, abbrechen, bevor Sie beenden.</translation>
    </message>
    <message>
        <source>Could not save Pal File, </source>
        <translation>Die Freundesdatei konnte nicht gespeichert werden, </translation>
    </message>
    <message>
        <source>Could not save Refuse List data File, </source>
        <translation>Die Datei der Sperrliste konnte nicht gespeichert werden, </translation>
    </message>
    <message>
        <source>Could not save Log File, </source>
        <translation>Die Protokolldatei konnte nicht gespeichert werden, </translation>
    </message>
</context>
<context>
    <name>QtAudioInput</name>
    <message>
        <source>The microphone stopped.</source>
        <translation>Das Mikrofon hat aufgehört.</translation>
    </message>
</context>
<context>
    <name>QtAudioOutput</name>
    <message>
        <source>The speaker stopped.</source>
        <translation>Der Lautsprecher hat aufgehört.</translation>
    </message>
</context>
<context>
    <name>QtCameraDevice</name>
    <message>
        <source>The camera stopped.</source>
        <translation>Die Kamera hat aufgehört.</translation>
    </message>
</context>
<context>
    <name>ReachOptionsGroup</name>
    <message>
        <source>Reachability</source>
        <translation>Erreichbarkeit</translation>
    </message>
    <message>
        <source>Ask the router to forward my ports (UPnP, NAT-PMP)</source>
        <translation>Den Router bitten, meine Ports weiterzuleiten (UPnP, NAT-PMP)</translation>
    </message>
    <message>
        <source>Without it, others can call you only when your router forwards the ports by hand</source>
        <translation>Ohne dies können andere Sie nur anrufen, wenn Ihr Router die Ports von Hand weiterleitet</translation>
    </message>
</context>
<context>
    <name>ReachabilityService</name>
    <message>
        <source>forward %1 to %2, see Help, Troubleshooting</source>
        <translation>leiten Sie %1 an %2 weiter, siehe Hilfe, Fehlerbehebung</translation>
    </message>
    <message>
        <source>this computer</source>
        <translation>diesen Computer</translation>
    </message>
    <message>
        <source>Asking your router to forward %1...</source>
        <translation>Ihr Router wird gebeten, %1 weiterzuleiten...</translation>
    </message>
    <message>
        <source>Router requests are off: </source>
        <translation>Anfragen an den Router sind aus: </translation>
    </message>
    <message>
        <source>No router answered the request for port forwarding: </source>
        <translation>Kein Router hat auf die Bitte um Portweiterleitung geantwortet: </translation>
    </message>
    <message>
        <source>Your router did not allow port forwarding: </source>
        <translation>Ihr Router hat die Portweiterleitung nicht erlaubt: </translation>
    </message>
    <message>
        <source>Your router&apos;s answers made no sense (%1): </source>
        <translation>Die Antworten Ihres Routers ergaben keinen Sinn (%1): </translation>
    </message>
    <message>
        <source>Your router&apos;s outside address %1 is itself private, so another router or your provider stands in front of it: ask there to </source>
        <translation>Die äußere Adresse %1 Ihres Routers ist selbst privat, also steht ein weiterer Router oder Ihr Anbieter davor: Bitten Sie dort darum, </translation>
    </message>
    <message>
        <source>Your router gave the ports for no time: </source>
        <translation>Ihr Router hat die Ports für keine Zeit vergeben: </translation>
    </message>
    <message>
        <source>Not reachable: the directory server could not connect to %1 (%2). </source>
        <translation>Nicht erreichbar: Der Verzeichnisserver konnte keine Verbindung zu %1 herstellen (%2). </translation>
    </message>
    <message>
        <source>Others on this network can call you at %1</source>
        <translation>Andere in diesem Netzwerk können Sie unter %1 anrufen</translation>
    </message>
    <message>
        <source>Only programs on this computer use this directory server</source>
        <translation>Nur Programme auf diesem Computer nutzen diesen Verzeichnisserver</translation>
    </message>
    <message>
        <source>Not reachable from the internet: the directory server could not connect to %1 (%2). </source>
        <translation>Aus dem Internet nicht erreichbar: Der Verzeichnisserver konnte keine Verbindung zu %1 herstellen (%2). </translation>
    </message>
    <message>
        <source>Another router may stand in front of yours.</source>
        <translation>Vielleicht steht ein weiterer Router vor Ihrem.</translation>
    </message>
    <message>
        <source>Others can call you at </source>
        <translation>Andere können Sie anrufen unter </translation>
    </message>
    <message>
        <source> (reachable from the internet)</source>
        <translation> (aus dem Internet erreichbar)</translation>
    </message>
    <message>
        <source>Not reachable from the internet. </source>
        <translation>Aus dem Internet nicht erreichbar. </translation>
    </message>
    <message>
        <source>Others can call you at %1 over IPv6; over IPv4 not reachable. </source>
        <translation>Andere können Sie über IPv6 unter %1 anrufen; über IPv4 nicht erreichbar. </translation>
    </message>
    <message>
        <source>TCP %1-%2 and %3</source>
        <translation>TCP %1-%2 und %3</translation>
    </message>
</context>
<context>
    <name>ScreenPickerDialog</name>
    <message>
        <source>Share Screen</source>
        <translation>Bildschirm teilen</translation>
    </message>
    <message>
        <source>Choose what the other side will see instead of your camera:</source>
        <translation>Wählen Sie, was die Gegenseite statt Ihrer Kamera sehen soll:</translation>
    </message>
    <message>
        <source>Screens and windows</source>
        <translation>Bildschirme und Fenster</translation>
    </message>
    <message>
        <source>Whole screen: %1</source>
        <translation>Ganzer Bildschirm: %1</translation>
    </message>
    <message>
        <source>Window: %1</source>
        <translation>Fenster: %1</translation>
    </message>
    <message>
        <source>Share</source>
        <translation>Teilen</translation>
    </message>
</context>
<context>
    <name>ScreenShare</name>
    <message>
        <source>Screen sharing ended: the desktop ended the session.</source>
        <translation>Bildschirmfreigabe beendet: Der Desktop hat die Sitzung beendet.</translation>
    </message>
    <message>
        <source>The screen cannot be shared: the display %1 cannot be read.</source>
        <translation>Der Bildschirm kann nicht geteilt werden: Die Anzeige %1 kann nicht gelesen werden.</translation>
    </message>
    <message>
        <source>&quot;%1&quot; cannot be shared: it is gone or its pixels cannot be read.</source>
        <translation>„%1“ kann nicht geteilt werden: Es ist nicht mehr da oder seine Pixel können nicht gelesen werden.</translation>
    </message>
    <message>
        <source>Screen sharing started: %1</source>
        <translation>Bildschirmfreigabe gestartet: %1</translation>
    </message>
    <message>
        <source>Shared screen</source>
        <translation>Geteilter Bildschirm</translation>
    </message>
    <message>
        <source>The desktop&apos;s picture of the screen cannot be read.</source>
        <translation>Das Bild des Bildschirms vom Desktop kann nicht gelesen werden.</translation>
    </message>
    <message>
        <source>Screen sharing started through the desktop</source>
        <translation>Bildschirmfreigabe über den Desktop gestartet</translation>
    </message>
    <message>
        <source>Screen sharing ended: %1</source>
        <translation>Bildschirmfreigabe beendet: %1</translation>
    </message>
</context>
<context>
    <name>SecureDialer</name>
    <message>
        <source>Only encrypted calls are allowed, and the other program does not answer encrypted</source>
        <translation>Nur verschlüsselte Anrufe sind erlaubt, und das andere Programm antwortet nicht verschlüsselt</translation>
    </message>
</context>
<context>
    <name>SecurityBadge</name>
    <message>
        <source>Mark as verified</source>
        <translation>Als verifiziert markieren</translation>
    </message>
    <message>
        <source>The other person read you the same four words: nobody is in between</source>
        <translation>Die andere Person hat Ihnen dieselben vier Wörter vorgelesen: Niemand ist dazwischen</translation>
    </message>
    <message>
        <source>Not encrypted</source>
        <translation>Nicht verschlüsselt</translation>
    </message>
    <message>
        <source>Encrypted</source>
        <translation>Verschlüsselt</translation>
    </message>
    <message>
        <source>Encrypted call, %1. Read these words to the other person: when theirs are the same, nobody is in between.</source>
        <translation>Verschlüsselter Anruf, %1. Lesen Sie der anderen Person diese Wörter vor: Wenn ihre dieselben sind, ist niemand dazwischen.</translation>
    </message>
    <message>
        <source>The call goes %1</source>
        <translation>Der Anruf läuft %1</translation>
    </message>
    <message>
        <source>Picture and sound: %1</source>
        <translation>Bild und Ton: %1</translation>
    </message>
</context>
<context>
    <name>SecurityIndicators</name>
    <message>
        <source>Encrypted call, %1</source>
        <translation>Verschlüsselter Anruf, %1</translation>
    </message>
</context>
<context>
    <name>SecurityOptionsGroup</name>
    <message>
        <source>Encryption</source>
        <translation>Verschlüsselung</translation>
    </message>
    <message>
        <source>Only accept and place encrypted calls</source>
        <translation>Nur verschlüsselte Anrufe annehmen und tätigen</translation>
    </message>
    <message>
        <source>Calls with older versions of ZELMO, which cannot encrypt, are refused both ways</source>
        <translation>Anrufe mit älteren ZELMO-Versionen, die nicht verschlüsseln können, werden in beide Richtungen abgewiesen</translation>
    </message>
    <message>
        <source>Calls are not encrypted: this program has no key.</source>
        <translation>Anrufe werden nicht verschlüsselt: Dieses Programm hat keinen Schlüssel.</translation>
    </message>
    <message>
        <source>Export Key...</source>
        <translation>Schlüssel exportieren...</translation>
    </message>
    <message>
        <source>Save your key, protected by a passphrase, to move it to another computer</source>
        <translation>Ihren Schlüssel, durch eine Passphrase geschützt, speichern, um ihn auf einen anderen Computer mitzunehmen</translation>
    </message>
    <message>
        <source>Import Key...</source>
        <translation>Schlüssel importieren...</translation>
    </message>
    <message>
        <source>Use a key exported on another computer: your e-mail address and user number on the directory stay yours</source>
        <translation>Einen auf einem anderen Computer exportierten Schlüssel verwenden: Ihre E-Mail-Adresse und Benutzernummer im Verzeichnis bleiben Ihre</translation>
    </message>
    <message>
        <source>Your key: %1 ...</source>
        <translation>Ihr Schlüssel: %1 ...</translation>
    </message>
    <message>
        <source>Calls between two ZELMOs of this version are encrypted</source>
        <translation>Anrufe zwischen zwei ZELMOs dieser Version sind verschlüsselt</translation>
    </message>
    <message>
        <source>Directory key: %1 (%2)</source>
        <translation>Verzeichnisschlüssel: %1 (%2)</translation>
    </message>
    <message>
        <source>Directory key: none yet; remembered at the first encrypted login</source>
        <translation>Verzeichnisschlüssel: noch keiner; wird bei der ersten verschlüsselten Anmeldung gespeichert</translation>
    </message>
    <message>
        <source>Export Key</source>
        <translation>Schlüssel exportieren</translation>
    </message>
    <message>
        <source>A passphrase to protect the key:</source>
        <translation>Eine Passphrase zum Schutz des Schlüssels:</translation>
    </message>
    <message>
        <source>Import Key</source>
        <translation>Schlüssel importieren</translation>
    </message>
    <message>
        <source>The passphrase the key was exported with:</source>
        <translation>Die Passphrase, mit der der Schlüssel exportiert wurde:</translation>
    </message>
</context>
<context>
    <name>SecurityService</name>
    <message>
        <source>The call to %1 was not placed: only encrypted calls are allowed (Options), and the other program does not answer encrypted calls.</source>
        <translation>Der Anruf an %1 wurde nicht getätigt: Nur verschlüsselte Anrufe sind erlaubt (Optionen), und das andere Programm nimmt keine verschlüsselten Anrufe an.</translation>
    </message>
    <message>
        <source>Could not make a key for encrypted calls, %1. Calls will not be encrypted.</source>
        <translation>Es konnte kein Schlüssel für verschlüsselte Anrufe erzeugt werden, %1. Anrufe werden nicht verschlüsselt.</translation>
    </message>
    <message>
        <source>Not encrypted</source>
        <translation>Nicht verschlüsselt</translation>
    </message>
    <message>
        <source>Encrypted, from the sender&apos;s verified key</source>
        <translation>Verschlüsselt, vom verifizierten Schlüssel des Absenders</translation>
    </message>
    <message>
        <source>Encrypted, from a key not verified</source>
        <translation>Verschlüsselt, von einem nicht verifizierten Schlüssel</translation>
    </message>
    <message>
        <source>A passphrase is needed to protect the key.</source>
        <translation>Zum Schutz des Schlüssels ist eine Passphrase nötig.</translation>
    </message>
    <message>
        <source>This program has no key to export.</source>
        <translation>Dieses Programm hat keinen Schlüssel zum Exportieren.</translation>
    </message>
    <message>
        <source>The key could not be written, %1 : %2</source>
        <translation>Der Schlüssel konnte nicht geschrieben werden, %1 : %2</translation>
    </message>
    <message>
        <source>The file %1 cannot be read: %2</source>
        <translation>Die Datei %1 kann nicht gelesen werden: %2</translation>
    </message>
    <message>
        <source>The passphrase is wrong, or the file holds no ZELMO key.</source>
        <translation>Die Passphrase ist falsch, oder die Datei enthält keinen ZELMO-Schlüssel.</translation>
    </message>
    <message>
        <source>The key could not be used, %1 : %2</source>
        <translation>Der Schlüssel konnte nicht verwendet werden, %1 : %2</translation>
    </message>
    <message>
        <source>Encrypted, from an unknown key, not the one remembered for this address</source>
        <translation>Verschlüsselt, von einem unbekannten Schlüssel, nicht dem für diese Adresse gemerkten</translation>
    </message>
    <message>
        <source>Encrypted, from an unknown key that claims to be %1, not the one remembered for that name</source>
        <translation>Verschlüsselt, von einem unbekannten Schlüssel, der sich als %1 ausgibt, nicht dem für diesen Namen gemerkten</translation>
    </message>
    <message>
        <source>Encrypted, from an unknown key</source>
        <translation>Verschlüsselt, von einem unbekannten Schlüssel</translation>
    </message>
    <message>
        <source>Encrypted, from an unknown key that claims to be %1</source>
        <translation>Verschlüsselt, von einem unbekannten Schlüssel, der sich als %1 ausgibt</translation>
    </message>
    <message>
        <source>The list %1 was a link to another file, so it is not used; the link is kept as %2</source>
        <translation>Die Liste %1 war eine Verknüpfung auf eine andere Datei und wird daher nicht verwendet; die Verknüpfung bleibt als %2 erhalten</translation>
    </message>
    <message>
        <source>Calls cannot be encrypted: %1. Installing ZELMO again mends this.</source>
        <translation>Anrufe können nicht verschlüsselt werden: %1. Eine erneute Installation von ZELMO behebt das.</translation>
    </message>
</context>
<context>
    <name>TrayController</name>
    <message>
        <source>&amp;Show ZELMO</source>
        <translation>ZELMO &amp;anzeigen</translation>
    </message>
    <message>
        <source>&amp;Do Not Disturb</source>
        <translation>&amp;Nicht stören</translation>
    </message>
    <message>
        <source>&amp;Hang Up</source>
        <translation>Au&amp;flegen</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Beenden</translation>
    </message>
    <message>
        <source>ZELMO: in a call</source>
        <translation>ZELMO: im Gespräch</translation>
    </message>
    <message>
        <source>ZELMO: Do Not Disturb</source>
        <translation>ZELMO: Nicht stören</translation>
    </message>
</context>
<context>
    <name>VideoDisplayDialog</name>
    <message>
        <source>Video Display</source>
        <translation>Videoanzeige</translation>
    </message>
    <message>
        <source>Show the self view mirrored</source>
        <translation>Eigenbild gespiegelt zeigen</translation>
    </message>
</context>
<context>
    <name>VideoFormatDialog</name>
    <message>
        <source>Video Format</source>
        <translation>Videoformat</translation>
    </message>
    <message>
        <source>No video device is connected.</source>
        <translation>Es ist kein Videogerät angeschlossen.</translation>
    </message>
    <message>
        <source>Automatic</source>
        <translation>Automatisch</translation>
    </message>
    <message>
        <source>Device:</source>
        <translation>Gerät:</translation>
    </message>
    <message>
        <source>Camera format:</source>
        <translation>Kameraformat:</translation>
    </message>
    <message>
        <source>Send video at:</source>
        <translation>Video senden mit:</translation>
    </message>
</context>
<context>
    <name>VideoSourceDialog</name>
    <message>
        <source>Video Source</source>
        <translation>Videoquelle</translation>
    </message>
    <message>
        <source>No video device is connected.</source>
        <translation>Es ist kein Videogerät angeschlossen.</translation>
    </message>
    <message>
        <source>Connected device:</source>
        <translation>Angeschlossenes Gerät:</translation>
    </message>
    <message>
        <source>Use device:</source>
        <translation>Gerät verwenden:</translation>
    </message>
</context>
<context>
    <name>WindowShell</name>
    <message>
        <source>Please take a moment to fill in your user information and verify the setup.</source>
        <translation>Bitte nehmen Sie sich einen Moment Zeit, um Ihre Benutzerangaben auszufüllen und die Einrichtung zu prüfen.</translation>
    </message>
    <message>
        <source>Stop S&amp;haring</source>
        <translation>Teilen &amp;beenden</translation>
    </message>
    <message>
        <source>Sha&amp;re Screen...</source>
        <translation>&amp;Bildschirm teilen...</translation>
    </message>
</context>
<context>
    <name>X11ScreenSource</name>
    <message>
        <source>The connection to the display was lost.</source>
        <translation>Die Verbindung zur Anzeige ist verloren gegangen.</translation>
    </message>
    <message>
        <source>The shared window was closed.</source>
        <translation>Das geteilte Fenster wurde geschlossen.</translation>
    </message>
    <message>
        <source>The shared screen is gone.</source>
        <translation>Der geteilte Bildschirm ist nicht mehr da.</translation>
    </message>
</context>
<context>
    <name>X11TalkKey</name>
    <message>
        <source>No key of this keyboard gives %1.</source>
        <translation>Keine Taste dieser Tastatur erzeugt %1.</translation>
    </message>
    <message>
        <source>%1 is taken by another program.</source>
        <translation>%1 wird von einem anderen Programm belegt.</translation>
    </message>
    <message>
        <source>The display did not give %1.</source>
        <translation>Die Anzeige hat %1 nicht freigegeben.</translation>
    </message>
    <message>
        <source>The connection to the display was lost.</source>
        <translation>Die Verbindung zur Anzeige ist verloren gegangen.</translation>
    </message>
</context>
<context>
    <name>X11Targets</name>
    <message>
        <source>Screen %1 (%2 x %3)</source>
        <translation>Bildschirm %1 (%2 x %3)</translation>
    </message>
</context>
<context>
    <name>frmAbout</name>
    <message>
        <source>ZELMO for %1, %2</source>
        <translation>ZELMO für %1, %2</translation>
    </message>
    <message>
        <source>About ZELMO</source>
        <translation>Über ZELMO</translation>
    </message>
    <message>
        <source>Version </source>
        <translation>Version </translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
</context>
<context>
    <name>frmBusyNotify</name>
    <message>
        <source>ZELMO Incoming Call...</source>
        <translation>ZELMO – Eingehender Anruf...</translation>
    </message>
    <message>
        <source>A Busy signal is being sent to this Person</source>
        <translation>Dieser Person wird ein Besetztzeichen gesendet</translation>
    </message>
    <message>
        <source>%1 of %2 called; a busy signal is being sent</source>
        <translation>%1 aus %2 hat angerufen; ein Besetztzeichen wird gesendet</translation>
    </message>
</context>
<context>
    <name>frmCallIn</name>
    <message>
        <source>ZELMO Incoming Call...</source>
        <translation>ZELMO – Eingehender Anruf...</translation>
    </message>
    <message>
        <source>Yes</source>
        <translation>Ja</translation>
    </message>
    <message>
        <source>No</source>
        <translation>Nein</translation>
    </message>
    <message>
        <source>Auto Accept</source>
        <translation>Automatisch annehmen</translation>
    </message>
    <message>
        <source>Call from %1, %2, accepted by itself</source>
        <translation>Anruf von %1, %2, selbsttätig angenommen</translation>
    </message>
    <message>
        <source>Incoming call from %1, %2. %3 answers, %4 refuses</source>
        <translation>Eingehender Anruf von %1, %2. %3 nimmt an, %4 lehnt ab</translation>
    </message>
</context>
<context>
    <name>frmConStatus</name>
    <message>
        <source>Connecting...</source>
        <translation>Verbindung wird hergestellt...</translation>
    </message>
    <message>
        <source>Name:</source>
        <translation>Name:</translation>
    </message>
    <message>
        <source>From:</source>
        <translation>Aus:</translation>
    </message>
</context>
<context>
    <name>frmDirectory</name>
    <message>
        <source>ZELMO Directory</source>
        <translation>ZELMO-Verzeichnis</translation>
    </message>
    <message>
        <source>Global Directory</source>
        <translation>Globales Verzeichnis</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Location</source>
        <translation>Ort</translation>
    </message>
    <message>
        <source>Comment</source>
        <translation>Kommentar</translation>
    </message>
    <message>
        <source>People Watch Pals</source>
        <translation>Freunde im Blick</translation>
    </message>
    <message>
        <source>Online</source>
        <translation>Online</translation>
    </message>
    <message>
        <source>Offline</source>
        <translation>Offline</translation>
    </message>
    <message>
        <source>Email or IP Address:</source>
        <translation>E-Mail- oder IP-Adresse:</translation>
    </message>
    <message>
        <source>Directory Server:</source>
        <translation>Verzeichnisserver:</translation>
    </message>
    <message>
        <source>Call</source>
        <translation>Anrufen</translation>
    </message>
    <message>
        <source>Send Message</source>
        <translation>Nachricht senden</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>Aktualisieren</translation>
    </message>
    <message>
        <source>New Pal</source>
        <translation>Neuer Freund</translation>
    </message>
    <message>
        <source>Delete Pal</source>
        <translation>Freund löschen</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Global directory</source>
        <translation>Globales Verzeichnis</translation>
    </message>
    <message>
        <source>Type a name to find a user; Enter calls the user</source>
        <translation>Namen eingeben, um einen Benutzer zu finden; die Eingabetaste ruft ihn an</translation>
    </message>
    <message>
        <source>Pals on line</source>
        <translation>Freunde online</translation>
    </message>
    <message>
        <source>Enter calls the pal</source>
        <translation>Die Eingabetaste ruft den Freund an</translation>
    </message>
    <message>
        <source>Pals off line</source>
        <translation>Freunde offline</translation>
    </message>
    <message>
        <source>Key</source>
        <translation>Schlüssel</translation>
    </message>
    <message>
        <source>Private</source>
        <translation>Privat</translation>
    </message>
    <message>
        <source>Not private</source>
        <translation>Nicht privat</translation>
    </message>
    <message>
        <source>The connection to the directory server is encrypted</source>
        <translation>Die Verbindung zum Verzeichnisserver ist verschlüsselt</translation>
    </message>
    <message>
        <source>This directory server does not encrypt: your e-mail address and name travel in clear text</source>
        <translation>Dieser Verzeichnisserver verschlüsselt nicht: Ihre E-Mail-Adresse und Ihr Name werden im Klartext übertragen</translation>
    </message>
    <message>
        <source>Verified</source>
        <translation>Verifiziert</translation>
    </message>
    <message>
        <source>Key verified</source>
        <translation>Schlüssel verifiziert</translation>
    </message>
    <message>
        <source>Key verified: this user&apos;s number and e-mail address belong to the key they logged in with</source>
        <translation>Schlüssel verifiziert: Die Nummer und E-Mail-Adresse dieses Benutzers gehören zu dem Schlüssel, mit dem er sich angemeldet hat</translation>
    </message>
    <message>
        <source>Directory Server Key</source>
        <translation>Schlüssel des Verzeichnisservers</translation>
    </message>
    <message>
        <source>Accept the new key?</source>
        <translation>Den neuen Schlüssel annehmen?</translation>
    </message>
</context>
<context>
    <name>frmErrorMsg</name>
    <message>
        <source>ZELMO Error</source>
        <translation>ZELMO-Fehler</translation>
    </message>
</context>
<context>
    <name>frmHelp</name>
    <message>
        <source>ZELMO Help</source>
        <translation>ZELMO-Hilfe</translation>
    </message>
    <message>
        <source>Back</source>
        <translation>Zurück</translation>
    </message>
    <message>
        <source>Forward</source>
        <translation>Vor</translation>
    </message>
    <message>
        <source>Contents</source>
        <translation>Inhalt</translation>
    </message>
    <message>
        <source>Type a word</source>
        <translation>Ein Wort eingeben</translation>
    </message>
    <message>
        <source>&amp;Type the word you are looking for:</source>
        <translation>&amp;Gesuchtes Wort eingeben:</translation>
    </message>
    <message>
        <source>Topics found</source>
        <translation>Gefundene Themen</translation>
    </message>
    <message>
        <source>Index</source>
        <translation>Index</translation>
    </message>
    <message>
        <source>Help page</source>
        <translation>Hilfeseite</translation>
    </message>
    <message>
        <source>Topic: %1</source>
        <translation>Thema: %1</translation>
    </message>
</context>
<context>
    <name>frmLog</name>
    <message>
        <source>Activity Log</source>
        <translation>Aktivitätsprotokoll</translation>
    </message>
    <message>
        <source>Activity</source>
        <translation>Aktivität</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>Leeren</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Are you sure you want to clear the Activity log?</source>
        <translation>Möchten Sie das Aktivitätsprotokoll wirklich leeren?</translation>
    </message>
    <message>
        <source>Activity log</source>
        <translation>Aktivitätsprotokoll</translation>
    </message>
</context>
<context>
    <name>frmMain</name>
    <message>
        <source>Call</source>
        <translation>Anrufen</translation>
    </message>
    <message>
        <source>Directory</source>
        <translation>Verzeichnis</translation>
    </message>
    <message>
        <source>SelfView</source>
        <translation>Eigenbild</translation>
    </message>
    <message>
        <source>Chat</source>
        <translation>Chat</translation>
    </message>
    <message>
        <source>Talk</source>
        <translation>Sprechen</translation>
    </message>
    <message>
        <source>Connection</source>
        <translation>Verbindung</translation>
    </message>
    <message>
        <source>Display User Directory</source>
        <translation>Benutzerverzeichnis anzeigen</translation>
    </message>
    <message>
        <source>Toggle SelfView</source>
        <translation>Eigenbild ein/aus</translation>
    </message>
    <message>
        <source>Text Chat</source>
        <translation>Text-Chat</translation>
    </message>
    <message>
        <source>Push to Talk</source>
        <translation>Zum Sprechen gedrückt halten</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>&amp;Call</source>
        <translation>&amp;Anrufen</translation>
    </message>
    <message>
        <source>&amp;Hangup</source>
        <translation>Au&amp;flegen</translation>
    </message>
    <message>
        <source>&amp;Do Not Disturb</source>
        <translation>&amp;Nicht stören</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Beenden</translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation>&amp;Ansicht</translation>
    </message>
    <message>
        <source>&amp;Self</source>
        <translation>&amp;Eigenbild</translation>
    </message>
    <message>
        <source>&amp;Text Chat</source>
        <translation>&amp;Text-Chat</translation>
    </message>
    <message>
        <source>&amp;Zoom</source>
        <translation>&amp;Zoom</translation>
    </message>
    <message>
        <source>&amp;Log</source>
        <translation>&amp;Protokoll</translation>
    </message>
    <message>
        <source>&amp;Data Rates</source>
        <translation>&amp;Datenraten</translation>
    </message>
    <message>
        <source>&amp;Options...</source>
        <translation>&amp;Optionen...</translation>
    </message>
    <message>
        <source>&amp;Small (160x120)</source>
        <translation>&amp;Klein (160x120)</translation>
    </message>
    <message>
        <source>&amp;Portrait (160x240)</source>
        <translation>&amp;Hochformat (160x240)</translation>
    </message>
    <message>
        <source>&amp;Normal (320x240)</source>
        <translation>&amp;Normal (320x240)</translation>
    </message>
    <message>
        <source>&amp;Very Large (400%)</source>
        <translation>&amp;Sehr groß (400%)</translation>
    </message>
    <message>
        <source>&amp;Tools</source>
        <translation>&amp;Extras</translation>
    </message>
    <message>
        <source>&amp;File Transfer</source>
        <translation>&amp;Dateiübertragung</translation>
    </message>
    <message>
        <source>&amp;Image Capture</source>
        <translation>&amp;Bildaufnahme</translation>
    </message>
    <message>
        <source>&amp;Remote Control</source>
        <translation>&amp;Fernsteuerung</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Hilfe</translation>
    </message>
    <message>
        <source>&amp;Contents</source>
        <translation>&amp;Inhalt</translation>
    </message>
    <message>
        <source>&amp;Help Topics</source>
        <translation>&amp;Hilfethemen</translation>
    </message>
    <message>
        <source>&amp;About...</source>
        <translation>Ü&amp;ber...</translation>
    </message>
    <message>
        <source>Microphone</source>
        <translation>Mikrofon</translation>
    </message>
    <message>
        <source>Microphone level</source>
        <translation>Mikrofonpegel</translation>
    </message>
    <message>
        <source>Camera</source>
        <translation>Kamera</translation>
    </message>
    <message>
        <source>Speaker</source>
        <translation>Lautsprecher</translation>
    </message>
    <message>
        <source>Do Not Disturb</source>
        <translation>Nicht stören</translation>
    </message>
    <message>
        <source>Quick Message</source>
        <translation>Kurznachricht</translation>
    </message>
    <message>
        <source>Activity</source>
        <translation>Aktivität</translation>
    </message>
    <message>
        <source>Call time</source>
        <translation>Gesprächsdauer</translation>
    </message>
    <message>
        <source>Incoming video</source>
        <translation>Eingehendes Video</translation>
    </message>
    <message>
        <source>How others reach you</source>
        <translation>Wie andere Sie erreichen</translation>
    </message>
    <message>
        <source>Not connected</source>
        <translation>Nicht verbunden</translation>
    </message>
    <message>
        <source>Quick Message (double-click to read)</source>
        <translation>Kurznachricht (zum Lesen doppelklicken)</translation>
    </message>
    <message>
        <source>HangUp</source>
        <translation>Auflegen</translation>
    </message>
    <message>
        <source>Connected</source>
        <translation>Verbunden</translation>
    </message>
    <message>
        <source>Press to hang up</source>
        <translation>Zum Auflegen drücken</translation>
    </message>
    <message>
        <source>Microphone open</source>
        <translation>Mikrofon offen</translation>
    </message>
    <message>
        <source>Microphone closed</source>
        <translation>Mikrofon geschlossen</translation>
    </message>
    <message>
        <source>Camera on</source>
        <translation>Kamera ein</translation>
    </message>
    <message>
        <source>Camera paused</source>
        <translation>Kamera angehalten</translation>
    </message>
    <message>
        <source>No camera</source>
        <translation>Keine Kamera</translation>
    </message>
    <message>
        <source>Speaker on</source>
        <translation>Lautsprecher ein</translation>
    </message>
    <message>
        <source>Speaker off</source>
        <translation>Lautsprecher aus</translation>
    </message>
    <message>
        <source>Do not disturb on</source>
        <translation>Nicht stören ein</translation>
    </message>
    <message>
        <source>Do not disturb off</source>
        <translation>Nicht stören aus</translation>
    </message>
    <message>
        <source>Press to turn do not disturb on or off</source>
        <translation>Zum Ein- oder Ausschalten von Nicht stören drücken</translation>
    </message>
    <message>
        <source>Quick message waiting</source>
        <translation>Kurznachricht wartet</translation>
    </message>
    <message>
        <source>No quick message</source>
        <translation>Keine Kurznachricht</translation>
    </message>
    <message>
        <source>Press to read the message</source>
        <translation>Zum Lesen der Nachricht drücken</translation>
    </message>
    <message>
        <source>New quick message from %1</source>
        <translation>Neue Kurznachricht von %1</translation>
    </message>
    <message>
        <source>Sha&amp;re Screen...</source>
        <translation>&amp;Bildschirm teilen...</translation>
    </message>
</context>
<context>
    <name>frmMessage</name>
    <message>
        <source>ZELMO Information</source>
        <translation>ZELMO-Information</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>frmMsgIn</name>
    <message>
        <source>Incoming Message</source>
        <translation>Eingegangene Nachricht</translation>
    </message>
    <message>
        <source>The sender has no user number to refuse.</source>
        <translation>Der Absender hat keine Benutzernummer, die gesperrt werden könnte.</translation>
    </message>
    <message>
        <source>Name:</source>
        <translation>Name:</translation>
    </message>
    <message>
        <source>From:</source>
        <translation>Aus:</translation>
    </message>
    <message>
        <source>E-mail:</source>
        <translation>E-Mail:</translation>
    </message>
    <message>
        <source>Time:</source>
        <translation>Zeit:</translation>
    </message>
    <message>
        <source>Sent:</source>
        <translation>Gesendet:</translation>
    </message>
    <message>
        <source>Play Audio Message</source>
        <translation>Tonnachricht abspielen</translation>
    </message>
    <message>
        <source>Play</source>
        <translation>Abspielen</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Stopp</translation>
    </message>
    <message>
        <source>Refuse Future Messages from this Person</source>
        <translation>Künftige Nachrichten dieser Person ablehnen</translation>
    </message>
    <message>
        <source>Reply</source>
        <translation>Antworten</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>Verbinden</translation>
    </message>
    <message>
        <source>Add Pal</source>
        <translation>Als Freund hinzufügen</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Message</source>
        <translation>Nachricht</translation>
    </message>
</context>
<context>
    <name>frmMsgOut</name>
    <message>
        <source>Send Message</source>
        <translation>Nachricht senden</translation>
    </message>
    <message>
        <source>Name:</source>
        <translation>Name:</translation>
    </message>
    <message>
        <source>From:</source>
        <translation>Aus:</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>Aktualisieren</translation>
    </message>
    <message>
        <source>Send Picture</source>
        <translation>Bild senden</translation>
    </message>
    <message>
        <source>Record</source>
        <translation>Aufnehmen</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Stopp</translation>
    </message>
    <message>
        <source>Play</source>
        <translation>Abspielen</translation>
    </message>
    <message>
        <source>Send Audio</source>
        <translation>Ton senden</translation>
    </message>
    <message>
        <source>Send</source>
        <translation>Senden</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Message</source>
        <translation>Nachricht</translation>
    </message>
    <message>
        <source>The text of the quick message; Tab moves on to the picture, the sound and Send</source>
        <translation>Der Text der Kurznachricht; die Tabulatortaste führt weiter zum Bild, zum Ton und zu Senden</translation>
    </message>
</context>
<context>
    <name>frmNewChat</name>
    <message>
        <source>Pane A</source>
        <translation>Bereich A</translation>
    </message>
    <message>
        <source>Pane B</source>
        <translation>Bereich B</translation>
    </message>
    <message>
        <source>Ring User</source>
        <translation>Benutzer anklingeln</translation>
    </message>
    <message>
        <source>Clear Text</source>
        <translation>Text löschen</translation>
    </message>
    <message>
        <source>Increase Font Size</source>
        <translation>Schrift vergrößern</translation>
    </message>
    <message>
        <source>Decrease Font Size</source>
        <translation>Schrift verkleinern</translation>
    </message>
</context>
<context>
    <name>frmNewPal</name>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>New Pal</source>
        <translation>Neuer Freund</translation>
    </message>
    <message>
        <source>Pal&apos;s E-Mail Address:</source>
        <translation>E-Mail-Adresse des Freundes:</translation>
    </message>
    <message>
        <source>Pal Entry</source>
        <translation>Freund eintragen</translation>
    </message>
    <message>
        <source>You must enter an email address to add this Pal</source>
        <translation>Sie müssen eine E-Mail-Adresse eingeben, um diesen Freund hinzuzufügen</translation>
    </message>
</context>
<context>
    <name>frmOptions</name>
    <message>
        <source>ZELMO Properties</source>
        <translation>ZELMO-Eigenschaften</translation>
    </message>
    <message>
        <source>Personal</source>
        <translation>Persönlich</translation>
    </message>
    <message>
        <source>General</source>
        <translation>Allgemein</translation>
    </message>
    <message>
        <source>Video</source>
        <translation>Video</translation>
    </message>
    <message>
        <source>Audio</source>
        <translation>Ton</translation>
    </message>
    <message>
        <source>Messaging</source>
        <translation>Nachrichten</translation>
    </message>
    <message>
        <source>Personal Information</source>
        <translation>Persönliche Angaben</translation>
    </message>
    <message>
        <source>Publish information on User Directory (except E-Mail)</source>
        <translation>Angaben im Benutzerverzeichnis veröffentlichen (außer E-Mail)</translation>
    </message>
    <message>
        <source>This information is used to help others connect to you on a public User Directory.  E-Mail address is not Published.</source>
        <translation>Diese Angaben helfen anderen, Sie über ein öffentliches Benutzerverzeichnis zu erreichen.  Die E-Mail-Adresse wird nicht veröffentlicht.</translation>
    </message>
    <message>
        <source>&amp;Name:</source>
        <translation>&amp;Name:</translation>
    </message>
    <message>
        <source>&amp;E-Mail:</source>
        <translation>&amp;E-Mail:</translation>
    </message>
    <message>
        <source>&amp;Location:</source>
        <translation>&amp;Ort:</translation>
    </message>
    <message>
        <source>C&amp;omment:</source>
        <translation>&amp;Kommentar:</translation>
    </message>
    <message>
        <source>User Directory</source>
        <translation>Benutzerverzeichnis</translation>
    </message>
    <message>
        <source>&amp;Directory Address:</source>
        <translation>&amp;Verzeichnisadresse:</translation>
    </message>
    <message>
        <source>Calling</source>
        <translation>Anrufe</translation>
    </message>
    <message>
        <source>Auto Accept Incoming Calls</source>
        <translation>Eingehende Anrufe automatisch annehmen</translation>
    </message>
    <message>
        <source>Send Welcome Message upon connection</source>
        <translation>Beim Verbinden eine Begrüßung senden</translation>
    </message>
    <message>
        <source>Enable Real Time Text Chat</source>
        <translation>Text-Chat in Echtzeit</translation>
    </message>
    <message>
        <source>&amp;Message:</source>
        <translation>&amp;Nachricht:</translation>
    </message>
    <message>
        <source>Windows</source>
        <translation>Fenster</translation>
    </message>
    <message>
        <source>Save Main Window Position</source>
        <translation>Position des Hauptfensters speichern</translation>
    </message>
    <message>
        <source>Move Self View with Main Window</source>
        <translation>Eigenbild mit dem Hauptfenster verschieben</translation>
    </message>
    <message>
        <source>Remember window Status</source>
        <translation>Fensterzustand merken</translation>
    </message>
    <message>
        <source>Video Device</source>
        <translation>Videogerät</translation>
    </message>
    <message>
        <source>&amp;Format...</source>
        <translation>&amp;Format...</translation>
    </message>
    <message>
        <source>So&amp;urce...</source>
        <translation>&amp;Quelle...</translation>
    </message>
    <message>
        <source>&amp;Display...</source>
        <translation>&amp;Anzeige...</translation>
    </message>
    <message>
        <source>&amp;Device:</source>
        <translation>&amp;Gerät:</translation>
    </message>
    <message>
        <source>Picture Quality</source>
        <translation>Bildqualität</translation>
    </message>
    <message>
        <source>Clearer Video</source>
        <translation>Schärferes Bild</translation>
    </message>
    <message>
        <source>Better Motion</source>
        <translation>Flüssigere Bewegung</translation>
    </message>
    <message>
        <source>Image Message</source>
        <translation>Bildnachricht</translation>
    </message>
    <message>
        <source>Put a message in my outgoing video</source>
        <translation>Eine Nachricht in mein ausgehendes Video einblenden</translation>
    </message>
    <message>
        <source>M&amp;essage:</source>
        <translation>Nac&amp;hricht:</translation>
    </message>
    <message>
        <source>Sound Quality</source>
        <translation>Tonqualität</translation>
    </message>
    <message>
        <source>Phone Quality (13.2 kbps)</source>
        <translation>Telefonqualität (13,2 kbit/s)</translation>
    </message>
    <message>
        <source>Radio Quality (6.6 kbps)</source>
        <translation>Funkqualität (6,6 kbit/s)</translation>
    </message>
    <message>
        <source>Sound Test</source>
        <translation>Tontest</translation>
    </message>
    <message>
        <source>&amp;Record</source>
        <translation>&amp;Aufnehmen</translation>
    </message>
    <message>
        <source>&amp;Stop</source>
        <translation>&amp;Stopp</translation>
    </message>
    <message>
        <source>&amp;Play</source>
        <translation>&amp;Wiedergeben</translation>
    </message>
    <message>
        <source>Recorded sound</source>
        <translation>Aufgenommener Ton</translation>
    </message>
    <message>
        <source>Record a few words, stop, and play them back to hear how you sound to others.</source>
        <translation>Nehmen Sie ein paar Worte auf, stoppen Sie und spielen Sie sie ab, um zu hören, wie Sie für andere klingen.</translation>
    </message>
    <message>
        <source>Speaker Volume</source>
        <translation>Lautsprecherlautstärke</translation>
    </message>
    <message>
        <source>Speaker volume</source>
        <translation>Lautsprecherlautstärke</translation>
    </message>
    <message>
        <source>Soft</source>
        <translation>Leise</translation>
    </message>
    <message>
        <source>Loud</source>
        <translation>Laut</translation>
    </message>
    <message>
        <source>Disable all Quick Messages</source>
        <translation>Alle Kurznachrichten abschalten</translation>
    </message>
    <message>
        <source>Refuse List</source>
        <translation>Sperrliste</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Email</source>
        <translation>E-Mail</translation>
    </message>
    <message>
        <source>&amp;Remove</source>
        <translation>&amp;Entfernen</translation>
    </message>
    <message>
        <source>All users on this will not be able to send Quick Messages to you. To add someone to this list select &quot;Refuse Message&quot; when a message is received from the user.</source>
        <translation>Niemand auf dieser Liste kann Ihnen Kurznachrichten senden. Um jemanden hinzuzufügen, wählen Sie „Künftige Nachrichten dieser Person ablehnen“, wenn eine Nachricht von ihm eingeht.</translation>
    </message>
    <message>
        <source>No video device found</source>
        <translation>Kein Videogerät gefunden</translation>
    </message>
    <message>
        <source>Use only the published picture and sound formats</source>
        <translation>Nur die veröffentlichten Bild- und Tonformate verwenden</translation>
    </message>
    <message>
        <source>Calls with another ZELMO of this version then use JPEG pictures and GSM sound, as calls with older programs do. Holds from the next call.</source>
        <translation>Anrufe mit einem anderen ZELMO dieser Version nutzen dann JPEG-Bilder und GSM-Ton, wie Anrufe mit älteren Programmen. Gilt ab dem nächsten Anruf.</translation>
    </message>
</context>
<context>
    <name>frmRates</name>
    <message>
        <source>Data Rates</source>
        <translation>Datenraten</translation>
    </message>
    <message>
        <source>Input Frame Rate:</source>
        <translation>Eingehende Bildrate:</translation>
    </message>
    <message>
        <source>(fps)</source>
        <translation>(fps)</translation>
    </message>
    <message>
        <source>Output Frame Rate:</source>
        <translation>Ausgehende Bildrate:</translation>
    </message>
    <message>
        <source>Input Throughput:</source>
        <translation>Eingehender Durchsatz:</translation>
    </message>
    <message>
        <source>(bps)</source>
        <translation>(bit/s)</translation>
    </message>
    <message>
        <source>Output Throughput:</source>
        <translation>Ausgehender Durchsatz:</translation>
    </message>
    <message>
        <source>Captured Video:</source>
        <translation>Aufgenommenes Video:</translation>
    </message>
    <message>
        <source>Output Quality:</source>
        <translation>Ausgehende Qualität:</translation>
    </message>
    <message>
        <source>(JPEG)</source>
        <translation>(JPEG)</translation>
    </message>
    <message>
        <source>Output Picture:</source>
        <translation>Ausgehendes Bild:</translation>
    </message>
    <message>
        <source>(pixels)</source>
        <translation>(Pixel)</translation>
    </message>
    <message>
        <source>Formats:</source>
        <translation>Formate:</translation>
    </message>
    <message>
        <source>Path Estimate:</source>
        <translation>Geschätzte Leitung:</translation>
    </message>
    <message>
        <source>(kbps)</source>
        <translation>(kbit/s)</translation>
    </message>
    <message>
        <source>Lost:</source>
        <translation>Verloren:</translation>
    </message>
    <message>
        <source>(frames)</source>
        <translation>(Bilder)</translation>
    </message>
</context>
<context>
    <name>frmRedirect</name>
    <message>
        <source>Yes</source>
        <translation>Ja</translation>
    </message>
    <message>
        <source>No</source>
        <translation>Nein</translation>
    </message>
    <message>
        <source>Directory Redirect</source>
        <translation>Verzeichnis umleiten</translation>
    </message>
    <message>
        <source>The directory server suggests another directory server. Do you want to move there?</source>
        <translation>Der Verzeichnisserver schlägt einen anderen Verzeichnisserver vor. Möchten Sie dorthin wechseln?</translation>
    </message>
</context>
<context>
    <name>frmSelf</name>
    <message>
        <source>Self View</source>
        <translation>Eigenbild</translation>
    </message>
    <message>
        <source>Pause or resume the camera</source>
        <translation>Kamera anhalten oder fortsetzen</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Video settings</source>
        <translation>Videoeinstellungen</translation>
    </message>
    <message>
        <source>Resume the camera</source>
        <translation>Kamera fortsetzen</translation>
    </message>
    <message>
        <source>Pause the camera</source>
        <translation>Kamera anhalten</translation>
    </message>
    <message>
        <source>Share Screen</source>
        <translation>Bildschirm teilen</translation>
    </message>
    <message>
        <source>Show your screen or a window to the other side instead of the camera</source>
        <translation>Der Gegenseite Ihren Bildschirm oder ein Fenster statt der Kamera zeigen</translation>
    </message>
    <message>
        <source>Sharing your screen</source>
        <translation>Ihr Bildschirm wird geteilt</translation>
    </message>
    <message>
        <source>Stop Sharing</source>
        <translation>Teilen beenden</translation>
    </message>
    <message>
        <source>Show the camera again</source>
        <translation>Wieder die Kamera zeigen</translation>
    </message>
    <message>
        <source>Sharing your screen: %1</source>
        <translation>Ihr Bildschirm wird geteilt: %1</translation>
    </message>
</context>
<context>
    <name>frmSplash</name>
    <message>
        <source>Version </source>
        <translation>Version </translation>
    </message>
    <message>
        <source>Video calls, person to person</source>
        <translation>Videoanrufe, von Mensch zu Mensch</translation>
    </message>
</context>
</TS>
