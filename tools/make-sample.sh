#!/usr/bin/env bash
# Builds resources/Beispiel.zip, the small archive `make run` opens: a few
# German text files in two folders (names kept to ASCII: Info-ZIP zip here
# does not mark UTF-8 names), with fixed dates so the archive is the
# same on every machine. Needs Info-ZIP zip.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir -p Briefe Rezepte

cat > Liesmich.txt <<'TXT'
Willkommen bei Tarvik!

Dieses kleine Archiv zeigt, wie Tarvik den Inhalt eines Zip-Archivs
anzeigt: Dateiname, gepackte und ungepackte Größe, Änderungsdatum und
Packrate. Ein Doppelklick auf eine Datei zeigt sie an.
TXT

cat > Briefe/Einladung.txt <<'TXT'
Liebe Freunde,

wir laden Euch herzlich zu unserem Sommerfest am Samstag ein.
Für Getränke ist gesorgt, bringt bitte gute Laune und einen Salat mit.

Viele Grüße
Anna und Jürgen
TXT

cat > "Briefe/Dankeschoen.txt" <<'TXT'
Hallo Frau Müller,

vielen Dank für die schönen Blumen zu meinem Geburtstag!
Ich habe mich sehr darüber gefreut.

Herzliche Grüße
Ihre Gisela
TXT

cat > Rezepte/Apfelkuchen.txt <<'TXT'
Apfelkuchen (für eine Springform)

Zutaten:
  200 g Mehl, 125 g Butter, 100 g Zucker, 1 Ei, 1 Prise Salz
  4 säuerliche Äpfel, Zimt, 50 g gehobelte Mandeln

Zubereitung:
  Mehl, Butter, Zucker, Ei und Salz zu einem Mürbeteig verkneten und
  eine halbe Stunde kühlen. Die Form damit auslegen, die Äpfel schälen,
  in Spalten schneiden und fächerförmig auflegen. Mit Zimt und Mandeln
  bestreuen und bei 180 °C etwa 45 Minuten backen.
TXT

# A longer text that packs well.
for i in $(seq 1 60); do
    printf 'Zeile %02d: Der Fuchs springt über den faulen Hund, die Katze schläft im Körbchen.\n' "$i"
done > Notizen.txt

touch -d '2024-03-14 09:30:00' Liesmich.txt
touch -d '2023-07-01 18:05:00' Briefe/Einladung.txt
touch -d '2023-05-22 11:42:00' "Briefe/Dankeschoen.txt"
touch -d '2022-11-27 15:10:00' Rezepte/Apfelkuchen.txt
touch -d '2024-01-08 08:00:00' Notizen.txt

rm -f "$root/resources/Beispiel.zip"
TZ=UTC zip -q -X -9 "$root/resources/Beispiel.zip" Liesmich.txt Notizen.txt \
    Briefe/Einladung.txt "Briefe/Dankeschoen.txt" Rezepte/Apfelkuchen.txt
