#!/usr/bin/env python3
"""Translations end to end: .po files made from `kovsea texts --template` with GNU gettext's
own msginit and checked with msgfmt --check, packed with --texts, the resources read back
with wrestool, and the self-extractor run under Wine in German, French and Japanese user
languages, its texts read from its windows as a user sees them.

Usage: texts_e2e.py --list | SCENARIO
"""

import re
import shutil
import subprocess
import sys

from harness import (KOVSEA, SHARED_PREFIX, Failure, Wine, check, installer_tree, pack, probe, run_scenarios,
                     wait_until)

TRANSLATIONS = {
    "de": {"IDS_ERR_CREATE_FILE": "Die aktuelle Datei kann nicht erstellt werden.",
           "IDS_ERR_START_EXE": "Das Programm kann nicht gestartet werden.",
           "IDS_ERR_CREATE_ADMIN": "Die Verwaltungsdatei kann nicht erstellt werden.",
           "IDS_ERROR_TITLE": "KOV-Fehler",
           "IDS_ERR_NOT_SEA": "Dies ist keine gültige KOV-SEA-Datei!",
           "IDS_ERR_TEMP_DIR": "Das temporäre Verzeichnis ist nicht verfügbar.",
           "IDD_EXTRACT_PROGRESS": "KOV Selbstentpackendes Archiv",
           "IDC_PROMPT": "Bitte warten Sie, während KOV die Dateien entpackt, mit denen diese Anwendung "
                         "installiert wird.",
           "IDCANCEL": "&Abbrechen"},
    "ja": {"IDS_ERR_CREATE_FILE": "現在のファイルを作成できません。",
           "IDS_ERR_START_EXE": "実行ファイルを開始できません。",
           "IDS_ERR_CREATE_ADMIN": "管理ファイルを作成できません。",
           "IDS_ERROR_TITLE": "KOV エラー",
           "IDS_ERR_NOT_SEA": "これは有効な KOV SEA ファイルではありません！",
           "IDS_ERR_TEMP_DIR": "一時ディレクトリの場所を取得できませんでした。",
           "IDD_EXTRACT_PROGRESS": "KOV 自己解凍書庫",
           "IDC_PROMPT": "KOV がこのアプリケーションをインストールするファイルを展開しています。お待ちください。",
           "IDCANCEL": "キャンセル"},
}
LOCALES = {"de": "de_DE.UTF-8", "fr": "fr_FR.UTF-8", "ja": "ja_JP.UTF-8"}


def need(*tools):
    for tool in tools:
        if shutil.which(tool) is None:
            print(f"needs {tool}")
            raise SystemExit(77)


def translation(work, language, texts):
    """A .po file for `language`, made from kovsea's template by msginit, its entries filled
    in with `texts` (by msgctxt), and checked by msgfmt --check."""
    need("msginit", "msgfmt")
    pot = work / "kovsea.pot"
    subprocess.run([str(KOVSEA), "texts", "--template", "-o", str(pot)], check=True)
    po = work / f"{language}.po"
    subprocess.run(["msginit", "--no-translator", "-i", str(pot), "-l", LOCALES.get(language, language),
                    "-o", str(po)], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    text = po.read_text(encoding="utf-8")
    text = re.sub(r'(msgctxt "(\w+)"\nmsgid (?:".*"\n)+msgstr )""', lambda m: m.group(1) + '"' + texts[m.group(2)] + '"',
                  text)
    po.write_text(text, encoding="utf-8")
    checked = subprocess.run(["msgfmt", "--check", "-o", "/dev/null", str(po)], stderr=subprocess.PIPE, text=True)
    check(checked.returncode == 0, f"msgfmt --check refuses {po.name}: {checked.stderr}")
    return po


def translated_sea(work):
    """A self-extractor with German and Japanese texts, and a damaged copy of it (its trailer
    cut off), which shows the "not valid" box."""
    tree = installer_tree(work)
    sea = work / "product.exe"
    pack(tree, sea, "--texts", translation(work, "de", TRANSLATIONS["de"]),
         "--texts", translation(work, "ja", TRANSLATIONS["ja"]))
    damaged = work / "damaged.exe"
    damaged.write_bytes(sea.read_bytes()[:-52])
    return sea, damaged


def resources_in_both_languages(work):
    need("wrestool")
    sea, _ = translated_sea(work)
    listing = subprocess.run(["wrestool", "-l", str(sea)], stdout=subprocess.PIPE, text=True, check=True).stdout
    for kind, name in (("5", "1020"), ("6", "318")):
        for language in ("1031", "1033", "1041"):
            check(f"--type={kind} --name={name} --language={language} " in listing,
                  f"no type {kind} resource {name} in language {language}:\n{listing}")
    listed = subprocess.run([str(KOVSEA), "list", str(sea)], stdout=subprocess.PIPE, text=True).stdout
    check("languages: de-DE (0x0407), en-US (0x0409), ja-JP (0x0411)" in listed, listed)


def run_damaged(work, language):
    """Runs the damaged self-extractor under the user language `language`; returns what the
    progress dialog and the message box show."""
    _, damaged = translated_sea(work)
    wine = Wine(SHARED_PREFIX)
    env = {"LANG": LOCALES[language], "LC_ALL": LOCALES[language]}
    running = wine.start(damaged, env=env)
    caption = TRANSLATIONS.get(language, {}).get("IDD_EXTRACT_PROGRESS", "KOV Self-Extracting Archive")
    layout = ""
    def dialog_shown():
        nonlocal layout
        rc, layout = probe(wine, work, "layout", caption)
        return rc == 0
    try:
        check(wait_until(dialog_shown, 60, interval=0.2), f"no dialog titled {caption}")
        rc, box = probe(wine, work, "box", 30000)
        check(rc == 0, "no message box appeared")
        check(running.wait(timeout=60) == 1, "the exit code is not 1")
    finally:
        if running.poll() is None:
            running.kill()
    return layout, box


def button_text(layout):
    """The Cancel button's text from the probe's layout ("control ID CLASS L T R B TEXT")."""
    for line in layout.splitlines():
        parts = line.split(" ", 7)
        if parts[:2] == ["control", "2"] and len(parts) == 8:
            return parts[7]
    raise Failure(f"no button in the dialog's layout:\n{layout}")


def german_user(work):
    layout, box = run_damaged(work, "de")
    de = TRANSLATIONS["de"]
    check(f"title={de['IDS_ERROR_TITLE']}" in box, box)
    check(f"text={de['IDS_ERR_NOT_SEA']}" in box, box)
    check(f"owner={de['IDD_EXTRACT_PROGRESS']}" in box, box)
    check(de["IDCANCEL"] in button_text(layout), layout)


def french_user_gets_english(work):
    layout, box = run_damaged(work, "fr")
    check("title=KOV Error" in box and "text=This is not a valid KOV SEA file!" in box, box)
    check("&Cancel" in button_text(layout), layout)


def japanese_user(work):
    layout, box = run_damaged(work, "ja")
    ja = TRANSLATIONS["ja"]
    check(f"title={ja['IDS_ERROR_TITLE']}" in box, box)
    check(f"text={ja['IDS_ERR_NOT_SEA']}" in box, box)
    check(ja["IDCANCEL"] in button_text(layout), layout)


def greek_text_outside_its_code_page(work):
    texts = dict(TRANSLATIONS["de"], IDS_ERROR_TITLE="Σφάλμα Łódź")
    po = translation(work, "el", texts)
    out = work / "greek.exe"
    tree = installer_tree(work)
    run = subprocess.run([str(KOVSEA), "pack", "-o", str(out), str(tree), "--texts", str(po)],
                         stderr=subprocess.PIPE, text=True)
    check(run.returncode == 1, f"pack exited with {run.returncode}")
    check(f'kovsea: error: {po}: entry "IDS_ERROR_TITLE":' in run.stderr and "code page 1253" in run.stderr,
          run.stderr)
    check(not out.exists(), "pack left an output file")


SCENARIOS = [resources_in_both_languages, german_user, french_user_gets_english, japanese_user,
             greek_text_outside_its_code_page]

if __name__ == "__main__":
    sys.exit(run_scenarios(__doc__, SCENARIOS))
