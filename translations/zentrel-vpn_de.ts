<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>ActivationServer</name>
    <message>
        <source>The path %1 is too long for a socket.</source>
        <translation>Der Pfad %1 ist zu lang für einen Socket.</translation>
    </message>
    <message>
        <source>%1 is in the way: %2.</source>
        <translation>%1 ist im Weg: %2.</translation>
    </message>
    <message>
        <source>%1 cannot be made: %2.</source>
        <translation>%1 kann nicht angelegt werden: %2.</translation>
    </message>
</context>
<context>
    <name>AppDelegate</name>
    <message>
        <source>Zentrel VPN cannot show its menu: your desktop has no system tray.</source>
        <translation>Zentrel VPN kann sein Menü nicht anzeigen: Ihre Arbeitsumgebung hat keinen Infobereich (System-Tray).</translation>
    </message>
    <message>
        <source>Connect and Disconnect live in the Zentrel VPN icon in the system tray. On GNOME, install and enable the AppIndicator extension (package gnome-shell-extension-appindicator), then log out and back in; on other desktops, add a system tray or status notifier area to a panel. The icon appears as soon as a tray is there, without restarting Zentrel VPN.

Meanwhile you can set up your connection in the preferences window.</source>
        <translation>„Verbinden“ und „Trennen“ finden Sie im Symbol von Zentrel VPN im Infobereich. Unter GNOME installieren und aktivieren Sie die AppIndicator-Erweiterung (Paket gnome-shell-extension-appindicator) und melden sich danach ab und wieder an; in anderen Arbeitsumgebungen fügen Sie einer Leiste einen Infobereich (System-Tray oder Status-Notifier) hinzu. Das Symbol erscheint, sobald es einen Infobereich gibt, ohne dass Sie Zentrel VPN neu starten müssen.

In der Zwischenzeit können Sie Ihre Verbindung im Einstellungsfenster einrichten.</translation>
    </message>
    <message>
        <source>SSH Error</source>
        <translation>SSH-Fehler</translation>
    </message>
    <message>
        <source>The proxy setting could not be changed</source>
        <translation>Die Proxy-Einstellung konnte nicht geändert werden</translation>
    </message>
    <message>
        <source>Zentrel VPN cannot switch your desktop&apos;s proxy: its helper program networksetup is missing from %1. Reinstall Zentrel VPN to put it back.</source>
        <translation>Zentrel VPN kann den Proxy Ihres Desktops nicht umschalten: Das Hilfsprogramm networksetup fehlt in %1. Installieren Sie Zentrel VPN neu, um es wiederherzustellen.</translation>
    </message>
    <message>
        <source>This command failed:</source>
        <translation>Dieser Befehl ist fehlgeschlagen:</translation>
    </message>
    <message>
        <source>These commands failed:</source>
        <translation>Diese Befehle sind fehlgeschlagen:</translation>
    </message>
    <message>
        <source>The tunnel is back</source>
        <translation>Der Tunnel steht wieder</translation>
    </message>
    <message>
        <source>Your traffic goes through %1 again.</source>
        <translation>Ihr Datenverkehr läuft wieder über %1.</translation>
    </message>
    <message>
        <source>The tunnel dropped</source>
        <translation>Der Tunnel ist abgerissen</translation>
    </message>
    <message>
        <source>Zentrel VPN is bringing it back; until then pages may fail to load.</source>
        <translation>Zentrel VPN baut ihn wieder auf; bis dahin laden Seiten womöglich nicht.</translation>
    </message>
</context>
<context>
    <name>AskPassDialog</name>
    <message>
        <source>Connect</source>
        <translation>Verbinden</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
<context>
    <name>ConnectionController</name>
    <message>
        <source>Zentrel VPN cannot tell whether an earlier run left your proxy switched on. %1 If your desktop&apos;s proxy points at localhost although you are not connected, switch it off in your system settings.</source>
        <translation>Zentrel VPN kann nicht feststellen, ob ein früherer Lauf Ihren Proxy eingeschaltet gelassen hat. %1 Wenn der Proxy Ihres Desktops auf localhost zeigt, obwohl Sie nicht verbunden sind, schalten Sie ihn in den Systemeinstellungen aus.</translation>
    </message>
    <message>
        <source>The proxy left on by an earlier run of Zentrel VPN was switched off.</source>
        <translation>Der von einem früheren Lauf von Zentrel VPN eingeschaltet gelassene Proxy wurde ausgeschaltet.</translation>
    </message>
    <message>
        <source>No network service was found, so your desktop&apos;s proxy was not switched. The tunnel still works: applications can use localhost:%1 as their SOCKS proxy, set up by hand.</source>
        <translation>Es wurde kein Netzwerkdienst gefunden, daher wurde der Proxy Ihres Desktops nicht umgeschaltet. Der Tunnel funktioniert trotzdem: Anwendungen können localhost:%1 als SOCKS-Proxy verwenden, wenn Sie ihn dort von Hand eintragen.</translation>
    </message>
    <message>
        <source>ssh could not be started: %1. Check the settings in the preferences window; a value may be far too long.</source>
        <translation>ssh konnte nicht gestartet werden: %1. Prüfen Sie die Einstellungen im Einstellungsfenster; ein Wert ist womöglich viel zu lang.</translation>
    </message>
    <message>
        <source>Zentrel VPN cannot keep track of the tunnel: %1 If Zentrel VPN stops unexpectedly, it cannot put your proxy settings back by itself.</source>
        <translation>Zentrel VPN kann den Tunnel nicht festhalten: %1 Wenn Zentrel VPN unerwartet endet, kann es Ihre Proxy-Einstellungen nicht selbst wiederherstellen.</translation>
    </message>
    <message>
        <source>Your proxy is still switched on for %1, pointing at a tunnel that is no longer there. Zentrel VPN tries again to switch it off when it next starts and at your next login; until then, switch it off in your system settings if pages do not load.</source>
        <translation>Ihr Proxy ist für %1 noch eingeschaltet und zeigt auf einen Tunnel, den es nicht mehr gibt. Zentrel VPN versucht beim nächsten Start und bei Ihrer nächsten Anmeldung erneut, ihn auszuschalten; schalten Sie ihn bis dahin in Ihren Systemeinstellungen aus, falls Seiten nicht laden.</translation>
    </message>
</context>
<context>
    <name>LoginCheck</name>
    <message>
        <source>Zentrel VPN cannot tell whether your proxy was left switched on</source>
        <translation>Zentrel VPN kann nicht feststellen, ob Ihr Proxy eingeschaltet geblieben ist</translation>
    </message>
    <message>
        <source>The proxy left on by an earlier run of Zentrel VPN could not be switched off</source>
        <translation>Der von einem früheren Lauf von Zentrel VPN eingeschaltet gelassene Proxy konnte nicht ausgeschaltet werden</translation>
    </message>
    <message>
        <source>The proxy left on by an earlier run of Zentrel VPN was switched off.</source>
        <translation>Der von einem früheren Lauf von Zentrel VPN eingeschaltet gelassene Proxy wurde ausgeschaltet.</translation>
    </message>
    <message>
        <source>Zentrel VPN is running and looks after the proxy itself.</source>
        <translation>Zentrel VPN läuft und kümmert sich selbst um den Proxy.</translation>
    </message>
</context>
<context>
    <name>MainMenu</name>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Quit Zentrel VPN</source>
        <translation>Zentrel VPN beenden</translation>
    </message>
    <message>
        <source>Cut</source>
        <translation>Ausschneiden</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>Kopieren</translation>
    </message>
    <message>
        <source>Paste</source>
        <translation>Einfügen</translation>
    </message>
    <message>
        <source>Select All</source>
        <translation>Alles auswählen</translation>
    </message>
    <message>
        <source>Edit</source>
        <translation>Bearbeiten</translation>
    </message>
</context>
<context>
    <name>PreferencesView</name>
    <message>
        <source>Username:</source>
        <translation>Benutzername:</translation>
    </message>
    <message>
        <source>Server:</source>
        <translation>Server:</translation>
    </message>
    <message>
        <source>Port:</source>
        <translation>Port:</translation>
    </message>
    <message>
        <source>Private key:</source>
        <translation>Privater Schlüssel:</translation>
    </message>
    <message>
        <source>Network service:</source>
        <translation>Netzwerkdienst:</translation>
    </message>
    <message>
        <source>6969</source>
        <translation>6969</translation>
    </message>
    <message>
        <source>Default private key in ~/.ssh</source>
        <translation>Standardschlüssel in ~/.ssh</translation>
    </message>
    <message>
        <source>Custom (complete path):</source>
        <translation>Eigener (vollständiger Pfad):</translation>
    </message>
    <message>
        <source>/etc/ssh/id_rsa</source>
        <translation>/etc/ssh/id_rsa</translation>
    </message>
    <message>
        <source> </source>
        <translation> </translation>
    </message>
</context>
<context>
    <name>PreferencesWindow</name>
    <message>
        <source>Zentrel VPN Preferences</source>
        <translation>Einstellungen für Zentrel VPN</translation>
    </message>
</context>
<context>
    <name>PrivateFolder</name>
    <message>
        <source>%1 cannot be used: %2.</source>
        <translation>%1 kann nicht verwendet werden: %2.</translation>
    </message>
    <message>
        <source>%1 is not a folder.</source>
        <translation>%1 ist kein Ordner.</translation>
    </message>
    <message>
        <source>%1 belongs to another user.</source>
        <translation>%1 gehört einem anderen Benutzer.</translation>
    </message>
    <message>
        <source>%1 can be changed by other users.</source>
        <translation>%1 kann von anderen Benutzern verändert werden.</translation>
    </message>
    <message>
        <source>%1 cannot be created: %2.</source>
        <translation>%1 kann nicht angelegt werden: %2.</translation>
    </message>
</context>
<context>
    <name>RemoteCommand</name>
    <message>
        <source>Zentrel VPN is not running: there is nothing to disconnect.</source>
        <translation>Zentrel VPN läuft nicht: Es gibt nichts zu trennen.</translation>
    </message>
    <message>
        <source>Zentrel VPN could not be started.</source>
        <translation>Zentrel VPN konnte nicht gestartet werden.</translation>
    </message>
    <message>
        <source>Zentrel VPN did not answer within %1 seconds.</source>
        <translation>Zentrel VPN hat nicht innerhalb von %1 Sekunden geantwortet.</translation>
    </message>
</context>
<context>
    <name>RemoteControl</name>
    <message>
        <source>Zentrel VPN is not configured yet: enter your server in its preferences window.</source>
        <translation>Zentrel VPN ist noch nicht eingerichtet: Tragen Sie Ihren Server in seinem Einstellungsfenster ein.</translation>
    </message>
    <message>
        <source>Unknown request.</source>
        <translation>Unbekannte Anfrage.</translation>
    </message>
    <message>
        <source>The connection was closed before the tunnel came up.</source>
        <translation>Die Verbindung wurde beendet, bevor der Tunnel stand.</translation>
    </message>
    <message>
        <source>Connected to %1@%2 (port %3) since %4</source>
        <translation>Verbunden mit %1@%2 (Port %3) seit %4</translation>
    </message>
    <message>
        <source>Connecting…</source>
        <translation>Verbindung wird hergestellt…</translation>
    </message>
    <message>
        <source>Reconnecting…</source>
        <translation>Verbindung wird wiederhergestellt…</translation>
    </message>
    <message>
        <source>Not configured</source>
        <translation>Nicht eingerichtet</translation>
    </message>
    <message>
        <source>Not connected</source>
        <translation>Nicht verbunden</translation>
    </message>
    <message>
        <source>Zentrel VPN is not running</source>
        <translation>Zentrel VPN läuft nicht</translation>
    </message>
</context>
<context>
    <name>SingleInstance</name>
    <message>
        <source>Zentrel VPN keeps its lock file there, so it must be a folder of yours that only you can change. Remove it, and Zentrel VPN makes it anew.</source>
        <translation>Zentrel VPN legt dort seine Sperrdatei ab, daher muss es ein Ordner sein, der Ihnen gehört und den nur Sie verändern können. Entfernen Sie ihn, dann legt Zentrel VPN ihn neu an.</translation>
    </message>
    <message>
        <source>%1 is in the way of its lock file: it is not a file of yours. Remove it, then start Zentrel VPN again.</source>
        <translation>%1 ist seiner Sperrdatei im Weg: Es ist keine Datei von Ihnen. Entfernen Sie es und starten Sie Zentrel VPN dann erneut.</translation>
    </message>
    <message>
        <source>Your user has no home folder in the password database, and Zentrel VPN keeps its lock file there.</source>
        <translation>Ihr Benutzer hat in der Passwortdatenbank keinen persönlichen Ordner, und Zentrel VPN legt seine Sperrdatei dort ab.</translation>
    </message>
    <message>
        <source>Its lock file %1 cannot be made: %2.</source>
        <translation>Seine Sperrdatei %1 kann nicht angelegt werden: %2.</translation>
    </message>
    <message>
        <source>Its lock file in %1 cannot be locked: %2.</source>
        <translation>Seine Sperrdatei in %1 kann nicht gesperrt werden: %2.</translation>
    </message>
    <message>
        <source>Its lock file in %1 cannot be read: %2.</source>
        <translation>Seine Sperrdatei in %1 kann nicht gelesen werden: %2.</translation>
    </message>
</context>
<context>
    <name>SshMonitor</name>
    <message>
        <source>The SSH connection ended: ssh was stopped by signal %1.</source>
        <translation>Die SSH-Verbindung wurde beendet: ssh wurde durch Signal %1 gestoppt.</translation>
    </message>
    <message>
        <source>The SSH connection ended: ssh exited with status %1.</source>
        <translation>Die SSH-Verbindung wurde beendet: ssh endete mit dem Status %1.</translation>
    </message>
    <message>
        <source>The SSH connection ended.</source>
        <translation>Die SSH-Verbindung wurde beendet.</translation>
    </message>
    <message>
        <source>The SSH connection ended. It was started by an earlier run of Zentrel VPN, so what ssh reported cannot be shown.</source>
        <translation>Die SSH-Verbindung wurde beendet. Sie wurde von einem früheren Lauf von Zentrel VPN gestartet, daher können die Meldungen von ssh nicht angezeigt werden.</translation>
    </message>
</context>
<context>
    <name>StatusItem</name>
    <message>
        <source>Zentrel VPN — Not configured</source>
        <translation>Zentrel VPN — Nicht eingerichtet</translation>
    </message>
    <message>
        <source>Zentrel VPN — Not connected</source>
        <translation>Zentrel VPN — Nicht verbunden</translation>
    </message>
    <message>
        <source>Zentrel VPN — Connected to %1@%2 (port %3)</source>
        <translation>Zentrel VPN — Verbunden mit %1@%2 (Port %3)</translation>
    </message>
    <message>
        <source>Zentrel VPN — Connecting…</source>
        <translation>Zentrel VPN — Verbindung wird hergestellt…</translation>
    </message>
    <message>
        <source>Zentrel VPN — Reconnecting…</source>
        <translation>Zentrel VPN — Verbindung wird wiederhergestellt…</translation>
    </message>
    <message>
        <source>under a minute</source>
        <translation>weniger als eine Minute</translation>
    </message>
    <message>
        <source>%1 min</source>
        <translation>%1 min</translation>
    </message>
    <message>
        <source>%1 h %2 min</source>
        <translation>%1 h %2 min</translation>
    </message>
    <message>
        <source>, %1 ms</source>
        <translation>, %1 ms</translation>
    </message>
    <message>
        <source>(since %1, tries: %2)</source>
        <translation>(seit %1, Versuche: %2)</translation>
    </message>
</context>
<context>
    <name>StatusMenu</name>
    <message>
        <source>Not Configured</source>
        <translation>Nicht eingerichtet</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>Verbinden</translation>
    </message>
    <message>
        <source>Disconnect</source>
        <translation>Trennen</translation>
    </message>
    <message>
        <source>Zentrel VPN Preferences…</source>
        <translation>Einstellungen für Zentrel VPN…</translation>
    </message>
    <message>
        <source>Quit Zentrel VPN</source>
        <translation>Zentrel VPN beenden</translation>
    </message>
</context>
<context>
    <name>TimedCommand</name>
    <message>
        <source>It could not be started: %1.</source>
        <translation>Er konnte nicht gestartet werden: %1.</translation>
    </message>
    <message>
        <source>It did not finish in time and was stopped.</source>
        <translation>Er wurde nicht rechtzeitig fertig und wurde abgebrochen.</translation>
    </message>
    <message>
        <source>It was stopped by signal %1.</source>
        <translation>Er wurde durch Signal %1 beendet.</translation>
    </message>
    <message>
        <source>It exited with status %1.</source>
        <translation>Er endete mit Status %1.</translation>
    </message>
</context>
<context>
    <name>TunnelRecordFile</name>
    <message>
        <source>Cannot read %1: %2.</source>
        <translation>%1 kann nicht gelesen werden: %2.</translation>
    </message>
    <message>
        <source>%1 is not a record that Zentrel VPN wrote (or it is damaged).</source>
        <translation>%1 wurde nicht von Zentrel VPN geschrieben (oder ist beschädigt).</translation>
    </message>
    <message>
        <source>Cannot write %1: %2.</source>
        <translation>%1 kann nicht geschrieben werden: %2.</translation>
    </message>
    <message>
        <source>Cannot remove %1: %2.</source>
        <translation>%1 kann nicht entfernt werden: %2.</translation>
    </message>
</context>
<context>
    <name>TunnelSupervisor</name>
    <message>
        <source>The network has been gone for too long, so the tunnel was closed. Connect again once you are back online.</source>
        <translation>Das Netzwerk war zu lange weg, daher wurde der Tunnel geschlossen. Verbinden Sie sich erneut, sobald Sie wieder online sind.</translation>
    </message>
    <message>
        <source>ssh did not open the SOCKS port %1 within %2 seconds.</source>
        <translation>ssh hat den SOCKS-Port %1 nicht innerhalb von %2 Sekunden geöffnet.</translation>
    </message>
    <message>
        <source>Port %1 on this computer is in use by another program, so the tunnel cannot take your traffic there, and your proxy is left switched off. Quit the other program or choose another port in the preferences window, then connect again.</source>
        <translation>Port %1 auf diesem Computer wird von einem anderen Programm belegt, daher kann der Tunnel Ihren Datenverkehr dort nicht übernehmen, und Ihr Proxy bleibt ausgeschaltet. Beenden Sie das andere Programm oder wählen Sie im Einstellungsfenster einen anderen Port, und verbinden Sie dann erneut.</translation>
    </message>
    <message>
        <source>ssh said:</source>
        <translation>ssh meldete:</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Zentrel VPN cannot start.</source>
        <translation>Zentrel VPN kann nicht starten.</translation>
    </message>
    <message>
        <source>Zentrel VPN is running already but does not answer. End that process, then start Zentrel VPN again.</source>
        <translation>Zentrel VPN läuft bereits, antwortet aber nicht. Beenden Sie diesen Prozess und starten Sie Zentrel VPN dann erneut.</translation>
    </message>
</context>
</TS>
