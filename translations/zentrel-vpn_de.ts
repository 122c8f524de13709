<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
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
        <source>This command failed:
%1

%2</source>
        <translation>Dieser Befehl ist fehlgeschlagen:
%1

%2</translation>
    </message>
    <message>
        <source>(no output)</source>
        <translation>(keine Ausgabe)</translation>
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
</TS>
