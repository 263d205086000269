/*
 * German. Each entry: the English text as the pages write it, then what a
 * German reader sees. Entries of whole sentences with markup (help pages)
 * keep their tags; {names} are filled in by the pages.
 */
/* global ZB */
"use strict";

ZB.catalogue = {
  "The About box":
    "Das Fenster „Über Zimbrel“",
  "Cancelling…":
    "Wird abgebrochen…",
  "Cancel":
    "Abbrechen",
  "This page is part of Zimbrel. Open it from Zimbrel (right-click in the main window) to use its buttons.":
    "Diese Seite gehört zu Zimbrel. Öffnen Sie sie aus Zimbrel heraus (Rechtsklick im Hauptfenster), um ihre Schaltflächen zu verwenden.",
  "Good news: your phone can use Zimbrel ringtones. Make one now!":
    "Gute Nachricht: Ihr Handy kann Klingeltöne von Zimbrel verwenden. Erstellen Sie gleich einen!",
  "Your phone does not seem to play MP3 files, so it probably cannot use the ringtone. Phones that play music nearly always can.":
    "Ihr Handy scheint keine MP3-Dateien abzuspielen und kann den Klingelton daher wahrscheinlich nicht verwenden. Handys, die Musik abspielen, können es fast immer.",
  "Your phone needs picture messages (MMS) or mobile internet to receive the ringtone. Ask your network to turn them on, then try again.":
    "Ihr Handy braucht Bildnachrichten (MMS) oder mobiles Internet, um den Klingelton zu empfangen. Bitten Sie Ihren Netzbetreiber, diese freizuschalten, und versuchen Sie es dann erneut.",
  "Your phone plays music but may not let you choose a song as ringtone. You can still receive and play the song.":
    "Ihr Handy spielt Musik ab, lässt Sie aber vielleicht kein Lied als Klingelton wählen. Sie können das Lied trotzdem empfangen und abspielen.",
  "Look in your phone’s settings or manual for the questions you are not sure about. Most phones bought in the last years pass this test.":
    "Sehen Sie in den Einstellungen oder der Anleitung Ihres Handys nach, was Sie nicht sicher wissen. Die meisten Handys aus den letzten Jahren bestehen diesen Test.",
  "Answer all three questions to see the result.":
    "Beantworten Sie alle drei Fragen, um das Ergebnis zu sehen.",
  "Zimbrel could not turn this song into a ringtone. The file may be damaged, protected against copying, or not an audio file. Try another song.":
    "Zimbrel konnte aus diesem Lied keinen Klingelton machen. Die Datei ist vielleicht beschädigt, kopiergeschützt oder keine Audiodatei. Versuchen Sie es mit einem anderen Lied.",
  "Zimbrel could not write into its work folder, so it cannot make the ringtone. Check that the folder .cache in your home folder can be written and that the disk is not full, then try again.":
    "Zimbrel kann nicht in seinen Arbeitsordner schreiben und daher keinen Klingelton erstellen. Prüfen Sie, ob der Ordner .cache in Ihrem persönlichen Ordner beschreibbar und die Festplatte nicht voll ist, und versuchen Sie es dann erneut.",
  "Zimbrel could not start converting the song. Please try again.":
    "Zimbrel konnte das Umwandeln des Lieds nicht starten. Bitte versuchen Sie es erneut.",
  "Zimbrel could not start evening out the loudness. Please try again.":
    "Zimbrel konnte das Angleichen der Lautstärke nicht starten. Bitte versuchen Sie es erneut.",
  "Zimbrel could not start copying the CD track. Please try again.":
    "Zimbrel konnte das Kopieren des CD-Titels nicht starten. Bitte versuchen Sie es erneut.",
  "Zimbrel could not start sending the ringtone. Please try again.":
    "Zimbrel konnte das Senden des Klingeltons nicht starten. Bitte versuchen Sie es erneut.",
  "Zimbrel could not contact the ringtone service. Please try again.":
    "Zimbrel konnte den Klingelton-Dienst nicht erreichen. Bitte versuchen Sie es erneut.",
  "The connection to the ringtone service broke off before the whole ringtone was delivered. Try again: your ringtone is kept.":
    "Die Verbindung zum Klingelton-Dienst brach ab, bevor der ganze Klingelton übertragen war. Versuchen Sie es erneut: Ihr Klingelton bleibt erhalten.",
  "The ringtone service has no room for this ringtone: it is larger than the space the service keeps for you. Make a shorter ringtone and send that: your ringtone is kept.":
    "Der Klingelton-Dienst hat keinen Platz für diesen Klingelton: Er ist größer als der Speicher, den der Dienst für Sie bereithält. Erstellen Sie einen kürzeren Klingelton und senden Sie diesen: Ihr Klingelton bleibt erhalten.",
  "The ringtone service did not answer. Please try again in a few minutes.":
    "Der Klingelton-Dienst hat nicht geantwortet. Bitte versuchen Sie es in einigen Minuten erneut.",
  "The ringtone service sent an answer that Zimbrel does not understand. Please try again later.":
    "Der Klingelton-Dienst hat eine Antwort gesendet, die Zimbrel nicht versteht. Bitte versuchen Sie es später erneut.",
  "Zimbrel could not remove the old volume information from the ringtone.":
    "Zimbrel konnte die alten Lautstärkeangaben nicht aus dem Klingelton entfernen.",
  "Zimbrel could not measure and even out the ringtone's loudness.":
    "Zimbrel konnte die Lautstärke des Klingeltons nicht messen und angleichen.",
  "Zimbrel could not give the ringtone its final volume boost.":
    "Zimbrel konnte den Klingelton nicht abschließend lauter machen.",
  "That CD drive is no longer available. Click Refresh and choose the drive again.":
    "Dieses CD-Laufwerk ist nicht mehr verfügbar. Klicken Sie auf „Aktualisieren“ und wählen Sie das Laufwerk erneut.",
  "Zimbrel could not open the CD drive. Check that no other program is using it, then try again.":
    "Zimbrel konnte das CD-Laufwerk nicht öffnen. Prüfen Sie, ob kein anderes Programm es verwendet, und versuchen Sie es dann erneut.",
  "There is no readable disc in the drive. Insert an audio CD and click Refresh.":
    "Im Laufwerk liegt keine lesbare CD. Legen Sie eine Audio-CD ein und klicken Sie auf „Aktualisieren“.",
  "That track is not on the disc in the drive. Click Refresh to read the disc again.":
    "Dieser Titel ist nicht auf der CD im Laufwerk. Klicken Sie auf „Aktualisieren“, um die CD erneut einzulesen.",
  "This disc has only one track, so Zimbrel cannot read it as an audio CD.":
    "Diese CD hat nur einen Titel, daher kann Zimbrel sie nicht als Audio-CD lesen.",
  "The track you chose holds computer data, not music. Choose an audio track.":
    "Der gewählte Titel enthält Computerdaten, keine Musik. Wählen Sie einen Audiotitel.",
  "Zimbrel ran out of memory while reading the CD. Close some programs and try again.":
    "Zimbrel hatte beim Lesen der CD nicht genug Arbeitsspeicher. Schließen Sie einige Programme und versuchen Sie es erneut.",
  "Zimbrel could not write the track into its temporary folder. Check that the disk is not full, then try again.":
    "Zimbrel konnte den Titel nicht in seinen temporären Ordner schreiben. Prüfen Sie, ob die Festplatte voll ist, und versuchen Sie es dann erneut.",
  "Zimbrel could not read the track. The disc may be scratched or dirty: clean it and try again.":
    "Zimbrel konnte den Titel nicht lesen. Die CD ist vielleicht zerkratzt oder verschmutzt: Reinigen Sie sie und versuchen Sie es erneut.",
  "Copying the track was cancelled.":
    "Das Kopieren des Titels wurde abgebrochen.",
  "No CD drive was found on this computer. Choose an audio file instead.":
    "Auf diesem Computer wurde kein CD-Laufwerk gefunden. Wählen Sie stattdessen eine Audiodatei.",
  "That CD drive is no longer available. Click Refresh.":
    "Dieses CD-Laufwerk ist nicht mehr verfügbar. Klicken Sie auf „Aktualisieren“.",
  "Zimbrel could not open the CD drive. Check that no other program is using it, then click Refresh.":
    "Zimbrel konnte das CD-Laufwerk nicht öffnen. Prüfen Sie, ob kein anderes Programm es verwendet, und klicken Sie dann auf „Aktualisieren“.",
  "There is no disc in this drive. Insert an audio CD and click Refresh.":
    "In diesem Laufwerk liegt keine CD. Legen Sie eine Audio-CD ein und klicken Sie auf „Aktualisieren“.",
  "The disc in this drive is not an audio CD. Insert an audio CD and click Refresh.":
    "Die CD in diesem Laufwerk ist keine Audio-CD. Legen Sie eine Audio-CD ein und klicken Sie auf „Aktualisieren“.",
  "Zimbrel could not prepare a connection to the ringtone service. Restart Zimbrel and try again.":
    "Zimbrel konnte keine Verbindung zum Klingelton-Dienst vorbereiten. Starten Sie Zimbrel neu und versuchen Sie es erneut.",
  "Zimbrel could not use the address of the ringtone service. Check the service setting of this computer, then try again.":
    "Zimbrel konnte die Adresse des Klingelton-Dienstes nicht verwenden. Prüfen Sie die Diensteinstellung dieses Computers und versuchen Sie es dann erneut.",
  "The ringtone service on this computer could not be reached. Try again; if it still fails, log out and back in, or start it with “systemctl --user start zimbrel-service.socket”.":
    "Der Klingelton-Dienst auf diesem Computer war nicht erreichbar. Versuchen Sie es erneut; schlägt es wieder fehl, melden Sie sich ab und wieder an oder starten Sie ihn mit „systemctl --user start zimbrel-service.socket“.",
  "Zimbrel could not even out the ringtone's loudness (the step ended with code {code}).":
    "Zimbrel konnte die Lautstärke des Klingeltons nicht angleichen (der Schritt endete mit Code {code}).",
  "Zimbrel could not copy the track from the CD (code {code}).":
    "Zimbrel konnte den Titel nicht von der CD kopieren (Code {code}).",
  "The CD drive reported a problem: {what}. Click Refresh to try again.":
    "Das CD-Laufwerk meldete ein Problem: {what}. Klicken Sie auf „Aktualisieren“, um es erneut zu versuchen.",
  "The CD drive reported a problem. Click Refresh to try again.":
    "Das CD-Laufwerk meldete ein Problem. Klicken Sie auf „Aktualisieren“, um es erneut zu versuchen.",
  "The ringtone service refused the request: {reason}":
    "Der Klingelton-Dienst hat die Anfrage abgelehnt: {reason}",
  "The ringtone service refused the request. Check your details and try again.":
    "Der Klingelton-Dienst hat die Anfrage abgelehnt. Prüfen Sie Ihre Angaben und versuchen Sie es erneut.",
  "The link has expired. Send the ringtone again for a new one.":
    "Der Link ist abgelaufen. Senden Sie den Klingelton erneut, um einen neuen zu erhalten.",
  "The link works for less than a minute more.":
    "Der Link funktioniert noch weniger als eine Minute.",
  "The link works for 1 more minute.":
    "Der Link funktioniert noch 1 Minute.",
  "The link works for {n} more minutes.":
    "Der Link funktioniert noch {n} Minuten.",
  "Your phone must be on the same Wi-Fi as this computer, and not on a guest network (those keep devices apart). If the link will not open, check that this computer's firewall lets in connections to TCP port {port}.":
    "Ihr Handy muss im selben WLAN wie dieser Computer sein und nicht in einem Gastnetz (dort sind die Geräte voneinander getrennt). Lässt sich der Link nicht öffnen, prüfen Sie, ob die Firewall dieses Computers Verbindungen auf TCP-Port {port} zulässt.",
  "{n} bytes":
    "{n} Bytes",
  "Data track – cannot be used":
    "Datentitel – nicht verwendbar",
  "CD drive {n}":
    "CD-Laufwerk {n}",
  "stereo":
    "Stereo",
  "mono":
    "Mono",
  "in {folder}":
    "in {folder}",
  "Track {n} of the audio CD":
    "Titel {n} der Audio-CD",
  "Enter your name, so that the service knows whose ringtone it is.":
    "Geben Sie Ihren Namen ein, damit der Dienst weiß, wem der Klingelton gehört.",
  "Enter your mobile network: the operator whose card is in your phone.":
    "Geben Sie Ihren Mobilfunkanbieter ein: den Anbieter, dessen SIM-Karte in Ihrem Handy steckt.",
  "Enter your mobile phone number: the service sends the ringtone to it.":
    "Geben Sie Ihre Handynummer ein: Der Dienst sendet den Klingelton an diese Nummer.",
  "This number is too short. Enter it with the country code, for example +44 7700 900123.":
    "Diese Nummer ist zu kurz. Geben Sie sie mit Ländervorwahl ein, zum Beispiel +49 151 23456789.",
  "This number is too long: a mobile number has at most 15 digits.":
    "Diese Nummer ist zu lang: Eine Handynummer hat höchstens 15 Ziffern.",
  "{from} to {to}, 1 second":
    "{from} bis {to}, 1 Sekunde",
  "{from} to {to}, {n} seconds":
    "{from} bis {to}, {n} Sekunden",
  "The start page":
    "Die Startseite",
  "Drop an audio file from your file manager, or use “Choose a file…”.":
    "Ziehen Sie eine Audiodatei aus Ihrer Dateiverwaltung hierher oder verwenden Sie „Datei wählen…“.",
  "Open this page from Zimbrel":
    "Öffnen Sie diese Seite aus Zimbrel",
  "{what} is part of Zimbrel, the ringtone creator, and works only inside the Zimbrel program. Start Zimbrel from your applications menu, or right-click an audio file and choose “{entry}”.":
    "{what} gehört zu Zimbrel, dem Klingelton-Ersteller, und funktioniert nur innerhalb von Zimbrel. Starten Sie Zimbrel aus Ihrem Anwendungsmenü oder klicken Sie mit der rechten Maustaste auf eine Audiodatei und wählen Sie „{entry}“.",
  "This page":
    "Diese Seite",
  "Send to Phone as Ringtone":
    "Als Klingelton ans Telefon senden",
  "Zimbrel could not read this song. Try again, or choose another song.":
    "Zimbrel konnte dieses Lied nicht lesen. Versuchen Sie es erneut oder wählen Sie ein anderes Lied.",
  "Zimbrel could not start reading the song. Try again, or choose another song.":
    "Zimbrel konnte das Lesen des Lieds nicht starten. Versuchen Sie es erneut oder wählen Sie ein anderes Lied.",
  "You cancelled reading the song. Try again, or choose another song.":
    "Sie haben das Lesen des Lieds abgebrochen. Versuchen Sie es erneut oder wählen Sie ein anderes Lied.",
  "Zimbrel picked the loudest {n} seconds of the song for you.":
    "Zimbrel hat für Sie die lautesten {n} Sekunden des Lieds ausgewählt.",
  "The whole song rings.":
    "Das ganze Lied klingelt.",
  "Move the part with the mouse or the arrow keys.":
    "Verschieben Sie den Abschnitt mit der Maus oder den Pfeiltasten.",
  "Stop":
    "Stopp",
  "Play the part":
    "Abschnitt abspielen",
  "Sending the ringtone to {phone}…":
    "Der Klingelton wird an {phone} gesendet…",
  "The ringtone is on its way to {phone}: look for it among the phone’s downloads.":
    "Der Klingelton ist unterwegs zu {phone}: Sie finden ihn bei den Downloads des Handys.",
  "It could not be sent to {phone}: {reason}":
    "Er konnte nicht an {phone} gesendet werden: {reason}",
  "Done!":
    "Fertig!",
  "“{ringtone}” is kept by the ringtone service on this computer for {phone}.":
    "„{ringtone}“ liegt für {phone} beim Klingelton-Dienst auf diesem Computer.",
  "Ringtone delivered":
    "Klingelton übertragen",
  "Get it onto your phone below, or play it on the service’s page:":
    "Holen Sie ihn unten auf Ihr Handy oder spielen Sie ihn auf der Seite des Dienstes ab:",
  "Send your ringtone":
    "Klingelton senden",
  "Sending was stopped.":
    "Das Senden wurde gestoppt.",
  "Sending cancelled":
    "Senden abgebrochen",
  "You stopped sending the ringtone.":
    "Sie haben das Senden des Klingeltons abgebrochen.",
  "Your ringtone is kept: you can send it again whenever you like.":
    "Ihr Klingelton bleibt erhalten: Sie können ihn jederzeit erneut senden.",
  "Send again":
    "Erneut senden",
  "Something went wrong.":
    "Etwas ist schiefgegangen.",
  "The ringtone was not sent":
    "Der Klingelton wurde nicht gesendet",
  "Your ringtone is kept: try again, or check your details.":
    "Ihr Klingelton bleibt erhalten: Versuchen Sie es erneut oder prüfen Sie Ihre Angaben.",
  "Try again":
    "Erneut versuchen",
  "Send to {phone}":
    "An {phone} senden",
  "through {app}":
    "über {app}",
  "Asking the service for a link…":
    "Der Dienst wird um einen Link gebeten…",
  "You can use the ringtone as it is, or try again.":
    "Sie können den Klingelton so verwenden, wie er ist, oder es erneut versuchen.",
  "You cancelled making the ringtone. Try again, or choose another song.":
    "Sie haben das Erstellen des Klingeltons abgebrochen. Versuchen Sie es erneut oder wählen Sie ein anderes Lied.",
  "Play":
    "Abspielen",
  "Pause":
    "Pause",
  "The loudness of this ringtone was not evened out.":
    "Die Lautstärke dieses Klingeltons wurde nicht angeglichen.",
  "Check the details, then send the ringtone to your phone.":
    "Prüfen Sie die Angaben und senden Sie den Klingelton dann an Ihr Handy.",
  "Send ringtone":
    "Klingelton senden",
  "Sending your ringtone":
    "Ihr Klingelton wird gesendet",
  "This takes a moment. You can cancel at any time.":
    "Das dauert einen Moment. Sie können jederzeit abbrechen.",
  "Contacting the ringtone service…":
    "Verbindung zum Klingelton-Dienst wird aufgebaut…",
  "Sending the ringtone…":
    "Der Klingelton wird gesendet…",
  "Ready when you are.":
    "Bereit, wenn Sie es sind.",
  "Choose a song to begin.":
    "Wählen Sie zuerst ein Lied.",
  "No CD drive":
    "Kein CD-Laufwerk",
  "Track {n}":
    "Titel {n}",
  "Copying track {n} from the CD…":
    "Titel {n} wird von der CD kopiert…",
  "About Zimbrel":
    "Über Zimbrel",
  "Zimbrel":
    "Zimbrel",
  "The Ringtone Creator":
    "Klingeltöne selbst gemacht",
  "Version":
    "Version",
  "Version code":
    "Versionscode",
  "Turns your music into ringtones and sends them to your phone.":
    "Macht aus Ihrer Musik Klingeltöne und sendet sie an Ihr Handy.",
  "OK":
    "OK",
  "Phone Compatibility Test":
    "Kompatibilitätstest für Telefone",
  "Can your phone use a Zimbrel ringtone?":
    "Kann Ihr Handy einen Klingelton von Zimbrel verwenden?",
  "Sections":
    "Abschnitte",
  "The test":
    "Der Test",
  "What Zimbrel sends":
    "Was Zimbrel sendet",
  "Setting the ringtone":
    "Den Klingelton einstellen",
  "If it does not work":
    "Wenn es nicht klappt",
  "Answer three questions about your phone. Look in its settings or its manual if you are not sure.":
    "Beantworten Sie drei Fragen zu Ihrem Handy. Sehen Sie in seinen Einstellungen oder seiner Anleitung nach, wenn Sie sich nicht sicher sind.",
  "1. Can your phone play MP3 music files?":
    "1. Kann Ihr Handy MP3-Musikdateien abspielen?",
  "Yes":
    "Ja",
  "No":
    "Nein",
  "Not sure":
    "Nicht sicher",
  "2. Can it join your home Wi-Fi and open web pages (or is it paired with KDE Connect or GSConnect)?":
    "2. Kann es sich mit Ihrem WLAN zu Hause verbinden und Webseiten öffnen (oder ist es mit KDE Connect oder GSConnect gekoppelt)?",
  "3. Can you choose a song saved on the phone as its ringtone?":
    "3. Können Sie ein auf dem Handy gespeichertes Lied als Klingelton wählen?",
  "Three answers of <b>Yes</b> mean your phone can use Zimbrel ringtones.":
    "Dreimal <b>Ja</b> bedeutet: Ihr Handy kann Klingeltöne von Zimbrel verwenden.",
  "Every ringtone Zimbrel makes has the same format, which nearly every phone that plays music understands:":
    "Jeder Klingelton von Zimbrel hat dasselbe Format, das fast jedes Handy versteht, das Musik abspielt:",
  "File type":
    "Dateityp",
  "MP3 (MPEG-1 Layer III)":
    "MP3 (MPEG-1 Layer III)",
  "Quality":
    "Qualität",
  "64 kbit/s, 44.1 kHz, stereo":
    "64 kbit/s, 44,1 kHz, Stereo",
  "Loudness":
    "Lautstärke",
  "evened out, then raised by up to 6 dB so it rings clearly, never so far that it distorts":
    "angeglichen und dann um bis zu 6 dB angehoben, damit er deutlich klingelt, aber nie so weit, dass er verzerrt",
  "Length":
    "Länge",
  "the whole song":
    "das ganze Lied",
  "Size":
    "Größe",
  "about 0.5 MB for each minute of music":
    "etwa 0,5 MB je Minute Musik",
  "The ringtone service on this computer keeps it and offers it to your phone in two ways: a QR code and a link that opens a small download page on your home network, and a “Send to” button for each phone paired with KDE Connect (Plasma) or GSConnect (GNOME). The download page has the ringtone for Android (MP3) and the same sound for iPhone (M4R, AAC audio, its first 40 seconds). Nothing is sent as a text or picture message.":
    "Der Klingelton-Dienst auf diesem Computer bewahrt ihn auf und bietet ihn Ihrem Handy auf zwei Wegen an: mit einem QR-Code und einem Link, der in Ihrem Heimnetz eine kleine Download-Seite öffnet, und mit einer Schaltfläche „An … senden“ für jedes Handy, das mit KDE Connect (Plasma) oder GSConnect (GNOME) gekoppelt ist. Die Download-Seite bietet den Klingelton für Android (MP3) und denselben Klang für das iPhone (M4R, AAC-Audio, die ersten 40 Sekunden). Nichts wird als SMS oder MMS gesendet.",
  "Once the ringtone is on your phone:":
    "Sobald der Klingelton auf Ihrem Handy ist:",
  "<b>Android</b>: download the MP3 from the page (or find the file KDE Connect or GSConnect put in the phone’s downloads), open <b>Settings &gt; Sound</b>, choose <b>Ringtone</b> and pick the file.":
    "<b>Android</b>: Laden Sie die MP3-Datei von der Seite herunter (oder suchen Sie die Datei, die KDE Connect oder GSConnect in den Downloads des Handys abgelegt hat), öffnen Sie <b>Einstellungen &gt; Töne</b>, wählen Sie <b>Klingelton</b> und dann die Datei.",
  "<b>iPhone</b>: download the M4R from the page, then add it as a ringtone with the <b>Files</b> app or with a computer as Apple describes; choose it in <b>Settings &gt; Sounds &amp; Haptics &gt; Ringtone</b>.":
    "<b>iPhone</b>: Laden Sie die M4R-Datei von der Seite herunter und fügen Sie sie mit der App <b>Dateien</b> oder mit einem Computer als Klingelton hinzu, wie Apple es beschreibt; wählen Sie ihn unter <b>Einstellungen &gt; Töne &amp; Haptik &gt; Klingelton</b>.",
  "Some phones also let you hold a saved song in the music player and choose <b>Use as ringtone</b>.":
    "Bei manchen Handys können Sie auch im Musikplayer lange auf ein gespeichertes Lied tippen und <b>Als Klingelton verwenden</b> wählen.",
  "<b>The link will not open on the phone</b>: the phone must be on the same Wi-Fi as this computer, not on a guest network and not on mobile data; this computer’s firewall must let in the port the link names (the number after the colon). The link works for 15 minutes: send the ringtone again for a new one.":
    "<b>Der Link öffnet sich auf dem Handy nicht</b>: Das Handy muss im selben WLAN wie dieser Computer sein, nicht in einem Gastnetz und nicht über mobile Daten; die Firewall dieses Computers muss den Port zulassen, den der Link nennt (die Zahl nach dem Doppelpunkt). Der Link funktioniert 15 Minuten lang: Senden Sie den Klingelton erneut, um einen neuen zu erhalten.",
  "<b>No “Send to” button</b>: KDE Connect or GSConnect must run on this computer and the phone must be paired with it and within reach.":
    "<b>Keine Schaltfläche „An … senden“</b>: KDE Connect oder GSConnect muss auf diesem Computer laufen, und das Handy muss damit gekoppelt und in Reichweite sein.",
  "<b>The phone says the file is not supported</b>: your phone cannot play MP3 files; try a newer phone.":
    "<b>Das Handy meldet, dass die Datei nicht unterstützt wird</b>: Ihr Handy kann keine MP3-Dateien abspielen; versuchen Sie es mit einem neueren Handy.",
  "<b>Not enough memory</b>: delete some old files on the phone, then download the ringtone again.":
    "<b>Nicht genug Speicher</b>: Löschen Sie einige alte Dateien auf dem Handy und laden Sie den Klingelton dann erneut herunter.",
  "You can also play your ringtones in a web browser on the service’s page for your phone:":
    "Sie können Ihre Klingeltöne auch in einem Webbrowser auf der Seite des Dienstes für Ihr Handy abspielen:",
  "Open the page for my phone":
    "Seite für mein Handy öffnen",
  "Phone list on the web":
    "Liste der Handys im Web",
  "Press F1 at any time for Zimbrel’s help.":
    "Drücken Sie jederzeit F1, um die Hilfe von Zimbrel zu öffnen.",
  "Close":
    "Schließen",
  "FAQ and Contact us":
    "FAQ und Kontakt",
  "Answers to common questions, and how to reach us":
    "Antworten auf häufige Fragen und wie Sie uns erreichen",
  "Songs and ringtones":
    "Lieder und Klingeltöne",
  "Sending and receiving":
    "Senden und Empfangen",
  "Your details":
    "Ihre Angaben",
  "Contact us":
    "Kontakt",
  "Which songs can I use?":
    "Welche Lieder kann ich verwenden?",
  "Any song you own as an MP3, WMA, AAC, M4A, MP4, OGG or WAV file, and any track of a music CD. Files protected against copying cannot be converted.":
    "Jedes Lied, das Ihnen gehört, als MP3-, WMA-, AAC-, M4A-, MP4-, OGG- oder WAV-Datei, und jeden Titel einer Musik-CD. Kopiergeschützte Dateien können nicht umgewandelt werden.",
  "Can I use just part of a song?":
    "Kann ich nur einen Teil eines Lieds verwenden?",
  "Yes. Zimbrel picks the loudest 30 seconds of the song for you; you can move that part, choose 15, 20, 30 or 40 seconds or the whole song, and hear it before the ringtone is made.":
    "Ja. Zimbrel wählt für Sie die lautesten 30 Sekunden des Lieds aus; Sie können diesen Teil verschieben, 15, 20, 30 oder 40 Sekunden oder das ganze Lied wählen und ihn anhören, bevor der Klingelton erstellt wird.",
  "Why does the ringtone sound louder than the song?":
    "Warum klingt der Klingelton lauter als das Lied?",
  "Zimbrel evens out the loudness and raises it a little, so that the ringtone is heard in a noisy place without distorting.":
    "Zimbrel gleicht die Lautstärke an und hebt sie etwas an, damit der Klingelton auch in lauter Umgebung zu hören ist, ohne zu verzerren.",
  "Why can I not choose a track of my CD?":
    "Warum kann ich keinen Titel meiner CD wählen?",
  "Tracks marked “Data track” hold computer files, not music. Discs with one track only cannot be read as audio CDs.":
    "Titel mit der Markierung „Datentitel“ enthalten Computerdateien, keine Musik. CDs mit nur einem Titel lassen sich nicht als Audio-CD lesen.",
  "Where does Zimbrel keep the files it makes?":
    "Wo bewahrt Zimbrel die erstellten Dateien auf?",
  "In its own temporary folder. Each new ringtone replaces the one before, so they take no space on your disk.":
    "In einem eigenen temporären Ordner. Jeder neue Klingelton ersetzt den vorigen, daher belegen sie keinen Platz auf Ihrer Festplatte.",
  "My ringtone has not arrived. What now?":
    "Mein Klingelton ist nicht angekommen. Was nun?",
  "Nothing is sent to your phone as a message: after <b>Send</b>, scan the QR code on the last step with the phone (it must be on the same Wi-Fi as this computer, not a guest network), or click <b>Send to</b> your phone when it is paired through KDE Connect or GSConnect. The service’s page for your phone number lists every ringtone kept for it on this computer.":
    "Nichts wird als Nachricht an Ihr Handy gesendet: Scannen Sie nach dem <b>Senden</b> den QR-Code im letzten Schritt mit dem Handy (es muss im selben WLAN wie dieser Computer sein, nicht in einem Gastnetz), oder klicken Sie auf <b>An … senden</b>, wenn Ihr Handy über KDE Connect oder GSConnect gekoppelt ist. Die Seite des Dienstes für Ihre Handynummer listet jeden Klingelton auf, der auf diesem Computer für sie bereitliegt.",
  "Sending failed. Is my ringtone lost?":
    "Das Senden ist fehlgeschlagen. Ist mein Klingelton verloren?",
  "No. Zimbrel keeps it until you make another one. Click <b>Try again</b>; the ringtone service runs on this computer, so no internet connection is needed.":
    "Nein. Zimbrel bewahrt ihn auf, bis Sie einen neuen erstellen. Klicken Sie auf <b>Erneut versuchen</b>; der Klingelton-Dienst läuft auf diesem Computer, daher ist keine Internetverbindung nötig.",
  "Does it cost anything?":
    "Kostet das etwas?",
  "No. Zimbrel and its ringtone service are free, and the ringtone goes to your phone over your own Wi-Fi or through KDE Connect or GSConnect, never over the mobile network.":
    "Nein. Zimbrel und sein Klingelton-Dienst sind kostenlos, und der Klingelton gelangt über Ihr eigenes WLAN oder über KDE Connect oder GSConnect auf Ihr Handy, nie über das Mobilfunknetz.",
  "Can I send a ringtone to a friend?":
    "Kann ich einem Freund einen Klingelton senden?",
  "Only to a phone whose owner has agreed to it. Enter your friend’s number in step 3, then change it back afterwards.":
    "Nur an ein Handy, dessen Besitzer damit einverstanden ist. Geben Sie in Schritt 3 die Nummer Ihres Freundes ein und ändern Sie sie danach wieder zurück.",
  "What does Zimbrel send?":
    "Was sendet Zimbrel?",
  "Nothing leaves your home network. Your name, phone number and network go with the ringtone to the ringtone service on this computer, which files the ringtone under the number (its page for your phone lists them) and keeps them with it; they are not sent anywhere else. Only a phone on your network that has the link (which ends after 15 minutes) or a phone you paired can fetch the ringtone.":
    "Nichts verlässt Ihr Heimnetz. Ihr Name, Ihre Handynummer und Ihr Mobilfunkanbieter gehen mit dem Klingelton an den Klingelton-Dienst auf diesem Computer, der den Klingelton unter der Nummer ablegt (seine Seite für Ihr Handy listet sie auf) und die Angaben dabei aufbewahrt; sie werden nirgendwohin sonst gesendet. Nur ein Handy in Ihrem Netz, das den Link hat (er endet nach 15 Minuten), oder ein Handy, das Sie gekoppelt haben, kann den Klingelton abrufen.",
  "Where are my details kept?":
    "Wo werden meine Angaben gespeichert?",
  "In your own settings on this computer. Other people with their own login on this computer do not see them.":
    "In Ihren eigenen Einstellungen auf diesem Computer. Andere Personen mit eigener Anmeldung an diesem Computer sehen sie nicht.",
  "How do I change them?":
    "Wie ändere ich sie?",
  "Go through the steps to “Your phone” and type the new details. Zimbrel keeps them when you click <b>Continue</b>.":
    "Gehen Sie die Schritte bis „Ihr Handy“ durch und geben Sie die neuen Angaben ein. Zimbrel speichert sie, wenn Sie auf <b>Weiter</b> klicken.",
  "Did not find your answer? We are glad to help. When you write to us, please tell us your phone’s make and model, your network and Zimbrel’s version (<span id=\"version\">1, 0, 1, 5</span>, shown in the About box).":
    "Keine Antwort gefunden? Wir helfen Ihnen gern. Wenn Sie uns schreiben, nennen Sie uns bitte Hersteller und Modell Ihres Handys, Ihren Mobilfunkanbieter und die Version von Zimbrel (<span id=\"version\">1, 0, 1, 5</span>, zu sehen im Fenster „Über Zimbrel“).",
  "Write to support":
    "An den Support schreiben",
  "Zimbrel homepage":
    "Homepage von Zimbrel",
  "My phone’s ringtones":
    "Klingeltöne meines Handys",
  "These open in your web browser.":
    "Diese öffnen sich in Ihrem Webbrowser.",
  "The Zimbrel homepage also has news, tips and the list of phones that work with Zimbrel.":
    "Die Homepage von Zimbrel bietet außerdem Neuigkeiten, Tipps und die Liste der Handys, die mit Zimbrel funktionieren.",
  "How to use Zimbrel":
    "So verwenden Sie Zimbrel",
  "From a song to your phone in four steps":
    "Vom Lied zu Ihrem Handy in vier Schritten",
  "Getting started":
    "Erste Schritte",
  "1. Choose a song":
    "1. Ein Lied wählen",
  "Songs from a CD":
    "Lieder von einer CD",
  "2. Make the ringtone":
    "2. Den Klingelton erstellen",
  "3. Your phone":
    "3. Ihr Handy",
  "4. Send it":
    "4. Senden",
  "Keyboard":
    "Tastatur",
  "Zimbrel turns a song you own into a ringtone and sends it to your mobile phone. The main window leads you through four steps, shown along its top:":
    "Zimbrel macht aus einem Lied, das Ihnen gehört, einen Klingelton und sendet ihn an Ihr Handy. Das Hauptfenster führt Sie durch vier Schritte, die oben angezeigt werden:",
  "<b>Choose a song</b>: an audio file, or a track of an audio CD.":
    "<b>Ein Lied wählen</b>: eine Audiodatei oder einen Titel einer Audio-CD.",
  "<b>Make the ringtone</b>: Zimbrel converts the song and evens out its loudness. You can listen to the result.":
    "<b>Den Klingelton erstellen</b>: Zimbrel wandelt das Lied um und gleicht seine Lautstärke an. Sie können sich das Ergebnis anhören.",
  "<b>Your phone</b>: your name, your mobile number and your network.":
    "<b>Ihr Handy</b>: Ihr Name, Ihre Handynummer und Ihr Mobilfunkanbieter.",
  "<b>Send it</b>: the ringtone goes to the ringtone service on this computer; you get it onto your phone with a QR code over your Wi-Fi, or through KDE Connect or GSConnect.":
    "<b>Senden</b>: Der Klingelton geht an den Klingelton-Dienst auf diesem Computer; auf Ihr Handy holen Sie ihn mit einem QR-Code über Ihr WLAN oder über KDE Connect oder GSConnect.",
  "Three ways to start":
    "Drei Wege zum Start",
  "Open <b>Zimbrel</b> from your applications menu.":
    "Öffnen Sie <b>Zimbrel</b> aus Ihrem Anwendungsmenü.",
  "In the file manager, right-click an audio file and choose <b>Send to Phone as Ringtone</b>, or <b>Open With &gt; Zimbrel</b>.":
    "Klicken Sie in der Dateiverwaltung mit der rechten Maustaste auf eine Audiodatei und wählen Sie <b>Als Klingelton ans Telefon senden</b> oder <b>Öffnen mit &gt; Zimbrel</b>.",
  "Drop an audio file on Zimbrel’s window.":
    "Ziehen Sie eine Audiodatei auf das Fenster von Zimbrel.",
  "Click <b>Choose a file…</b> and pick a song. Zimbrel reads these kinds of audio file:":
    "Klicken Sie auf <b>Datei wählen…</b> und wählen Sie ein Lied. Zimbrel liest diese Arten von Audiodateien:",
  "MP3":
    "MP3",
  "MPEG Layer-3 audio (.mp3)":
    "MPEG-Layer-3-Audio (.mp3)",
  "WMA":
    "WMA",
  "Windows Media Audio (.wma)":
    "Windows-Media-Audio (.wma)",
  "AAC":
    "AAC",
  "Advanced Audio Coding (.aac, .m4a, .mp4)":
    "Advanced Audio Coding (.aac, .m4a, .mp4)",
  "OGG":
    "OGG",
  "Ogg Vorbis (.ogg)":
    "Ogg Vorbis (.ogg)",
  "WAV":
    "WAV",
  "Waveform audio (.wav)":
    "Waveform-Audio (.wav)",
  "When Zimbrel was started with a song (from the file manager, for example), that song is already chosen: just click <b>Make ringtone</b>.":
    "Wurde Zimbrel mit einem Lied gestartet (zum Beispiel aus der Dateiverwaltung), ist dieses Lied bereits gewählt: Klicken Sie einfach auf <b>Klingelton erstellen</b>.",
  "Songs protected against copying cannot be converted.":
    "Kopiergeschützte Lieder können nicht umgewandelt werden.",
  "Put a music CD in your drive and click <b>Choose a CD track…</b>":
    "Legen Sie eine Musik-CD in Ihr Laufwerk und klicken Sie auf <b>CD-Titel wählen…</b>",
  "Pick the drive, if you have more than one. The tracks of the disc are listed with their lengths. Click <b>Refresh</b> after you change the disc.":
    "Wählen Sie das Laufwerk, wenn Sie mehr als eines haben. Die Titel der CD werden mit ihrer Länge aufgelistet. Klicken Sie nach einem CD-Wechsel auf <b>Aktualisieren</b>.",
  "Choose a track and click <b>Use this track</b>. Zimbrel copies it from the disc (the bar shows how far it has got) and then makes the ringtone from it.":
    "Wählen Sie einen Titel und klicken Sie auf <b>Diesen Titel verwenden</b>. Zimbrel kopiert ihn von der CD (der Balken zeigt, wie weit es ist) und erstellt dann daraus den Klingelton.",
  "Tracks marked <b>Data track</b> hold computer files, not music, and cannot be chosen. A disc with a single track cannot be read as an audio CD.":
    "Titel mit der Markierung <b>Datentitel</b> enthalten Computerdateien, keine Musik, und können nicht gewählt werden. Eine CD mit nur einem Titel lässt sich nicht als Audio-CD lesen.",
  "If the disc cannot be read, clean it with a soft, dry cloth and try again.":
    "Lässt sich die CD nicht lesen, reinigen Sie sie mit einem weichen, trockenen Tuch und versuchen Sie es erneut.",
  "Zimbrel first <b>converts</b> the song into an MP3 file that phones play well (64 kbit/s, 44.1 kHz, stereo). The bar moves while it works; the time it takes depends on the length of the song.":
    "Zuerst <b>wandelt</b> Zimbrel das Lied in eine MP3-Datei um, die Handys gut abspielen (64 kbit/s, 44,1 kHz, Stereo). Der Balken bewegt sich, während es arbeitet; wie lange es dauert, hängt von der Länge des Lieds ab.",
  "Then it <b>evens out the loudness</b> in three short steps, so that a quiet recording still rings clearly and a loud one does not distort.":
    "Dann folgt in drei kurzen Schritten das <b>Angleichen der Lautstärke</b>, damit eine leise Aufnahme trotzdem deutlich klingelt und eine laute nicht verzerrt.",
  "When the ringtone is ready, use the player to listen to it. Its length and size are shown beside it. Not happy with it? Click <b>Choose another song</b>.":
    "Wenn der Klingelton fertig ist, hören Sie ihn sich mit dem Player an. Seine Länge und Größe stehen daneben. Nicht zufrieden? Klicken Sie auf <b>Anderes Lied wählen</b>.",
  "If the loudness cannot be evened out, you may still use the ringtone as it is.":
    "Lässt sich die Lautstärke nicht angleichen, können Sie den Klingelton trotzdem so verwenden, wie er ist.",
  "Tell Zimbrel whose ringtone it is. The ringtone service on this computer files each ringtone under the phone number, so its page for your number lists every ringtone you made:":
    "Sagen Sie Zimbrel, wem der Klingelton gehört. Der Klingelton-Dienst auf diesem Computer legt jeden Klingelton unter der Handynummer ab, daher listet seine Seite für Ihre Nummer jeden Klingelton auf, den Sie erstellt haben:",
  "<b>Your name</b>, kept with the ringtone so the service knows whose it is.":
    "<b>Ihr Name</b>, der mit dem Klingelton aufbewahrt wird, damit der Dienst weiß, wem er gehört.",
  "<b>Mobile phone number</b>, with the country code, as you would dial it from abroad (for example +44 7700 900123). Nothing is sent to the number.":
    "<b>Handynummer</b>, mit Ländervorwahl, so wie Sie sie aus dem Ausland wählen würden (zum Beispiel +49 151 23456789). An die Nummer wird nichts gesendet.",
  "<b>Mobile network</b>: the operator whose card is in your phone, kept with the ringtone as a note. Nothing is sent over it.":
    "<b>Mobilfunkanbieter</b>: der Anbieter, dessen SIM-Karte in Ihrem Handy steckt; er wird als Notiz mit dem Klingelton aufbewahrt. Darüber wird nichts gesendet.",
  "Zimbrel keeps these details on this computer and fills them in the next time. Each person who uses this computer with their own login has their own details.":
    "Zimbrel speichert diese Angaben auf diesem Computer und trägt sie beim nächsten Mal ein. Jede Person, die diesen Computer mit eigener Anmeldung nutzt, hat ihre eigenen Angaben.",
  "Check the details and click <b>Send ringtone</b>. Zimbrel hands the file to the ringtone service on this computer; the bar shows how much has been handed over.":
    "Prüfen Sie die Angaben und klicken Sie auf <b>Klingelton senden</b>. Zimbrel übergibt die Datei an den Klingelton-Dienst auf diesem Computer; der Balken zeigt, wie viel schon übergeben ist.",
  "<b>Sent</b>: scan the QR code with your phone (on the same Wi-Fi as this computer, not a guest network) and download the ringtone for Android (MP3) or iPhone (M4R) from the page it opens, or click <b>Send to</b> a phone paired with KDE Connect or GSConnect. The link works for 15 minutes. Click <b>See it on the service</b> to play it on the service’s page for your phone number.":
    "<b>Gesendet</b>: Scannen Sie den QR-Code mit Ihrem Handy (im selben WLAN wie dieser Computer, nicht in einem Gastnetz) und laden Sie auf der Seite, die sich öffnet, den Klingelton für Android (MP3) oder iPhone (M4R) herunter, oder klicken Sie auf <b>An … senden</b> für ein Handy, das mit KDE Connect oder GSConnect gekoppelt ist. Der Link funktioniert 15 Minuten lang. Klicken Sie auf <b>Beim Dienst ansehen</b>, um ihn auf der Seite des Dienstes für Ihre Handynummer abzuspielen.",
  "<b>Not sent</b>: the reason is shown. Your ringtone is kept, so you can click <b>Try again</b> once the problem is solved.":
    "<b>Nicht gesendet</b>: Der Grund wird angezeigt. Ihr Klingelton bleibt erhalten, Sie können also auf <b>Erneut versuchen</b> klicken, sobald das Problem behoben ist.",
  "<b>Cancelled</b>: click <b>Send again</b> whenever you like.":
    "<b>Abgebrochen</b>: Klicken Sie jederzeit auf <b>Erneut senden</b>.",
  "To make another ringtone, click <b>Make another ringtone</b>. There is no need to restart Zimbrel.":
    "Für einen weiteren Klingelton klicken Sie auf <b>Weiteren Klingelton erstellen</b>. Zimbrel muss dafür nicht neu gestartet werden.",
  "<kbd>Tab</kbd> / <kbd>Shift</kbd>+<kbd>Tab</kbd>":
    "<kbd>Tab</kbd> / <kbd>Umschalt</kbd>+<kbd>Tab</kbd>",
  "Move to the next or previous button or field.":
    "Zur nächsten oder vorigen Schaltfläche oder zum nächsten oder vorigen Feld wechseln.",
  "<kbd>Enter</kbd> or <kbd>Space</kbd>":
    "<kbd>Eingabe</kbd> oder <kbd>Leertaste</kbd>",
  "Press the highlighted button.":
    "Die hervorgehobene Schaltfläche drücken.",
  "<kbd>↑</kbd> <kbd>↓</kbd>":
    "<kbd>↑</kbd> <kbd>↓</kbd>",
  "Choose a CD track, or move through the sections of a help window.":
    "Einen CD-Titel wählen oder sich durch die Abschnitte eines Hilfefensters bewegen.",
  "Esc":
    "Esc",
  "Cancel the step that is running, or close a help window.":
    "Den laufenden Schritt abbrechen oder ein Hilfefenster schließen.",
  "F1":
    "F1",
  "Open Zimbrel’s help.":
    "Die Hilfe von Zimbrel öffnen.",
  "Right-click":
    "Rechtsklick",
  "Open the menu of help pages, the homepage and the About box.":
    "Das Menü mit den Hilfeseiten, der Homepage und dem Fenster „Über Zimbrel“ öffnen.",
  "Zimbrel - The Ringtone Creator":
    "Zimbrel - Klingeltöne selbst gemacht",
  "Help":
    "Hilfe",
  "How to use":
    "Anleitung",
  "Phone compatibility":
    "Kompatibilität",
  "FAQ & contact":
    "FAQ und Kontakt",
  "About":
    "Über",
  "Progress":
    "Fortschritt",
  "Choose a song":
    "Lied wählen",
  "Make the ringtone":
    "Klingelton erstellen",
  "Your phone":
    "Ihr Handy",
  "Send it":
    "Senden",
  "Pick the song you want to hear when your phone rings.":
    "Wählen Sie das Lied, das Sie hören möchten, wenn Ihr Handy klingelt.",
  "An audio file":
    "Eine Audiodatei",
  "MP3, WMA, AAC, M4A, MP4, OGG or WAV from this computer. You can also drop a file on this window.":
    "MP3, WMA, AAC, M4A, MP4, OGG oder WAV von diesem Computer. Sie können auch eine Datei auf dieses Fenster ziehen.",
  "Choose a file…":
    "Datei wählen…",
  "A track of an audio CD":
    "Ein Titel einer Audio-CD",
  "Insert a music CD in your drive and pick one of its tracks.":
    "Legen Sie eine Musik-CD in Ihr Laufwerk und wählen Sie einen ihrer Titel.",
  "Choose a CD track…":
    "CD-Titel wählen…",
  "Make ringtone":
    "Klingelton erstellen",
  "Choose a CD track":
    "CD-Titel wählen",
  "Zimbrel copies the track you choose, then makes your ringtone from it.":
    "Zimbrel kopiert den gewählten Titel und erstellt daraus Ihren Klingelton.",
  "Drive":
    "Laufwerk",
  "Refresh":
    "Aktualisieren",
  "Tracks":
    "Titel",
  "Copying the track…":
    "Titel wird kopiert…",
  "Copying":
    "Kopieren",
  "Back":
    "Zurück",
  "Use this track":
    "Diesen Titel verwenden",
  "Choose the part that rings":
    "Wählen Sie den Abschnitt, der klingelt",
  "Reading the song…":
    "Lied wird gelesen…",
  "Reading the song":
    "Lied wird gelesen",
  "The part that rings":
    "Der Abschnitt, der klingelt",
  "15 seconds":
    "15 Sekunden",
  "20 seconds":
    "20 Sekunden",
  "30 seconds":
    "30 Sekunden",
  "40 seconds":
    "40 Sekunden",
  "Whole song":
    "Ganzes Lied",
  "Fade in":
    "Einblenden",
  "Fade out":
    "Ausblenden",
  "Choose another song":
    "Anderes Lied wählen",
  "Making your ringtone":
    "Ihr Klingelton wird erstellt",
  "Converting the song to a phone ringtone (MP3)":
    "Das Lied wird in einen Handy-Klingelton (MP3) umgewandelt",
  "Converting":
    "Umwandeln",
  "Evening out the loudness":
    "Lautstärke angleichen",
  "Removing old volume information":
    "Alte Lautstärkeangaben entfernen",
  "Measuring and adjusting the loudness":
    "Lautstärke messen und anpassen",
  "Giving it a clear ringing volume":
    "Eine deutliche Klingellautstärke einstellen",
  "Use it as it is":
    "Unverändert verwenden",
  "Your ringtone is ready":
    "Ihr Klingelton ist fertig",
  "Listen to it here before you send it to your phone.":
    "Hören Sie ihn sich hier an, bevor Sie ihn an Ihr Handy senden.",
  "Position in the ringtone":
    "Position im Klingelton",
  "Continue":
    "Weiter",
  "Whose phone is it for?":
    "Für wessen Handy ist er?",
  "The ringtone service on this computer files the ringtone under this number; next you get it onto the phone over your Wi-Fi or through KDE Connect or GSConnect. Zimbrel remembers these details for next time.":
    "Der Klingelton-Dienst auf diesem Computer legt den Klingelton unter dieser Nummer ab; danach holen Sie ihn über Ihr WLAN oder über KDE Connect oder GSConnect auf Ihr Handy. Zimbrel merkt sich diese Angaben für das nächste Mal.",
  "Your name":
    "Ihr Name",
  "Mobile phone number":
    "Handynummer",
  "for example +44 7700 900123":
    "zum Beispiel +49 151 23456789",
  "With the country code, as you would dial it from abroad.":
    "Mit Ländervorwahl, so wie Sie sie aus dem Ausland wählen würden.",
  "Mobile network":
    "Mobilfunkanbieter",
  "the operator your phone uses":
    "der Anbieter, den Ihr Handy nutzt",
  "Ringtone":
    "Klingelton",
  "Part":
    "Abschnitt",
  "To phone":
    "An Handy",
  "Network":
    "Anbieter",
  "For":
    "Für",
  "Sending":
    "Senden",
  "Get it onto your phone":
    "Holen Sie ihn auf Ihr Handy",
  "QR code of the link to your ringtone":
    "QR-Code des Links zu Ihrem Klingelton",
  "Scan the code with your phone’s camera, or type this link into its browser. The page it opens has the ringtone for Android (MP3) and for iPhone (M4R).":
    "Scannen Sie den Code mit der Kamera Ihres Handys oder geben Sie diesen Link in seinen Browser ein. Die Seite, die sich öffnet, bietet den Klingelton für Android (MP3) und für iPhone (M4R).",
  "Or send it to a phone paired with KDE Connect or GSConnect:":
    "Oder senden Sie ihn an ein Handy, das mit KDE Connect oder GSConnect gekoppelt ist:",
  "Change details":
    "Angaben ändern",
  "Make another ringtone":
    "Weiteren Klingelton erstellen",
  "See it on the service":
    "Beim Dienst ansehen"
};
