#!/usr/bin/env python3
"""Writes kovsea's manual page and bash completion from the program's own --help output.

    help_docs.py man PROGRAM --changelog FILE [--extra FILE] -o kovsea.1
    help_docs.py bash PROGRAM -o kovsea

Both read `PROGRAM --help`, find the commands in its "Subcommands:" section, read
`PROGRAM COMMAND --help` for each, and turn what they say into roff or a bash function. The
commands, their options and the words describing them therefore come from the binary being
packaged, and a command or option added to it shows up in both without a change here. Help
text laid out in a way this reader does not know stops the build instead of being dropped.
"""
import argparse
import email.utils
import itertools
import re
import subprocess
import sys
from collections import Counter

SECTION = re.compile(r"^([A-Z][A-Za-z ]*):$")
ENTRY = re.compile(r"^  (\S.*)$")
OPTION_NAME = re.compile(r"^-{1,2}[A-Za-z0-9][A-Za-z0-9_-]*$")
VALUE_NAME = re.compile(r"^[A-Z][A-Za-z0-9_.=]*$")


class HelpError(Exception):
    pass


class Entry:
    """One line of a section: an option, a positional argument or a command."""

    def __init__(self, column, description):
        self.column = column  # what the left column says, e.g. "-o,--output TEXT REQUIRED"
        self.description = description
        head, _, rest = column.partition(" ")
        self.names = head.split(",")
        words = rest.split()
        self.required = "REQUIRED" in words
        values = [w for w in words if w not in ("REQUIRED", "...")]
        self.value = values[0] if values else None  # TEXT, UINT, ...; None for a flag
        self.repeatable = "..." in words
        # One placeholder, spelled as a placeholder: anything else (a validator's name glued
        # on as in "FILE:FILE", a note such as "Needs: --against") would be printed as if it
        # were the option's value.
        if len(values) > 1 or (self.value and not VALUE_NAME.match(self.value)):
            raise HelpError(f"{column!r} does not give one placeholder for its value")

    def is_option(self):
        return all(OPTION_NAME.match(n) for n in self.names)


class Help:
    """What one `--help` says: description, usage, sections of entries and closing text."""

    def __init__(self, text, who):
        self.description, self.usage, self.sections, self.footer = [], None, {}, []
        lines = text.rstrip("\n").split("\n")
        at = 0
        while at < len(lines) and not lines[at].startswith("usage: "):
            if lines[at].strip():
                self.description.append(lines[at].strip())
            at += 1
        if at == len(lines):
            raise HelpError(f"{who}: no 'usage:' line")
        self.usage = lines[at][len("usage: "):].strip()
        at += 1
        raw = {}
        section = None
        while at < len(lines):
            line = lines[at]
            match = SECTION.match(line)
            if match:
                section = match.group(1)
                raw[section] = []
            elif not line.strip():
                section = None
            elif section is not None and line.startswith("  "):
                raw[section].append(line)
            elif section is None and not line.startswith(" ") and (not raw or not lines[at - 1].strip()):
                self.footer = _paragraphs(lines[at:])
                break
            else:
                raise HelpError(f"{who}: line {at + 1} does not fit the help layout: {line!r}")
            at += 1
        column = _description_column(raw, who)
        for name, section_lines in raw.items():
            self.sections[name] = _entries(section_lines, column, who)

    def options(self):
        return [e for e in self.sections.get("Options", []) if e.is_option()]

    def positionals(self):
        return self.sections.get("Positionals", [])

    def commands(self):
        return self.sections.get("Subcommands", [])


def _paragraphs(lines):
    out, current = [], []
    for line in lines + [""]:
        if line.strip():
            current.append(line.strip())
        elif current:
            out.append(" ".join(current))
            current = []
    return out


def _description_column(raw, who):
    """The column descriptions start in: where the most entries put theirs."""
    starts = Counter()
    for section_lines in raw.values():
        for line in section_lines:
            match = re.match(r"^  \S.*?\S  +(?=\S)", line)
            if match:
                starts[match.end()] += 1
    if not starts:
        if any(raw.values()):
            raise HelpError(f"{who}: no entry has a description column")
        return 0
    return starts.most_common(1)[0][0]


def _entries(lines, column, who):
    """Entries of a section. A name too wide for its column stands alone on its line with the
    description on the next ones; a description of several lines continues at the column."""

    def continuation(line):
        return line[:column].strip() == "" and line.strip() != ""

    entries = []
    for at, line in enumerate(lines):
        if ENTRY.match(line):
            name = line[2:column].rstrip()
            same_line = len(line) > column and line[column] != " " and len(name) <= column - 3
            # One space before the column is either the padding of a name that just fits or
            # a space inside a name too wide for it: a wide name has its description below.
            if same_line and len(line[2:column]) - len(name) == 1:
                same_line = not (at + 1 < len(lines) and continuation(lines[at + 1]))
            if same_line:
                entries.append(Entry(name, line[column:].strip()))
            else:
                entries.append(Entry(line[2:].rstrip(), ""))
        elif continuation(line) and entries:
            entries[-1].description = (entries[-1].description + " " + line.strip()).strip()
        else:
            raise HelpError(f"{who}: entry line does not fit the column at {column}: {line!r}")
    for entry in entries:
        if not entry.names[0] or "  " in entry.column:
            raise HelpError(f"{who}: entry does not fit the column at {column}: {entry.column!r}")
    return entries


def read_program(program):
    """The whole tool's help and each command's, in the order the tool lists them."""

    def run(*args):
        done = subprocess.run([program, *args, "--help"], capture_output=True, text=True)
        if done.returncode != 0:
            raise HelpError(f"{program} {' '.join(args)} --help exited with {done.returncode}: {done.stderr}")
        return done.stdout

    top = Help(run(), "kovsea --help")
    if not top.commands():
        raise HelpError("kovsea --help lists no subcommands")
    commands = []
    for entry in top.commands():
        name = entry.names[0]
        command = Help(run(name), f"kovsea {name} --help")
        if command.commands():
            raise HelpError(f"kovsea {name} has subcommands of its own, which this reader does not document")
        commands.append((name, command))
    version = subprocess.run([program, "--version"], capture_output=True, text=True, check=True).stdout.split()
    return top, commands, version[-1] if version else ""


# --- roff -------------------------------------------------------------------------------------

INLINE = re.compile(r"`([^`]+)`|(?<![\w\\$-])(--?[A-Za-z][A-Za-z0-9-]*)")


def _plain(text):
    out = text.replace("\\", "\\e")
    return "".join(c if ord(c) < 128 else f"\\[u{ord(c):04X}]" for c in out)


def _option_roff(name):
    return "\\fB" + _plain(name).replace("-", "\\-") + "\\fR"


def roff(text):
    """Prose as roff: options and `quoted commands` in bold, their dashes as minus signs."""
    out, at = [], 0
    for match in INLINE.finditer(text):
        out.append(_plain(text[at:match.start()]))
        quoted, option = match.groups()
        if quoted is not None:
            out.append("\\fB" + _plain(quoted).replace("-", "\\-") + "\\fR")
        else:
            out.append(_option_roff(option))
        at = match.end()
    out.append(_plain(text[at:]))
    line = "".join(out)
    return "\\&" + line if line[:1] in (".", "'") else line


def _sentence(text):
    text = text.strip()
    if not text:
        return text
    text = text[0].upper() + text[1:]
    return text if text.endswith((".", "!", "?")) else text + "."


def _usage_roff(usage):
    words = usage.split()
    bold = list(itertools.takewhile(lambda w: re.match(r"^[a-z][a-z0-9-]*$", w), words))
    rest = words[len(bold):]
    return "\\fB" + " ".join(bold) + "\\fR " + " ".join(_usage_word(w) for w in rest)


def _usage_word(word):
    inner = word.strip("[]")
    if re.match(r"^[A-Z][A-Z0-9_.]*$", inner):
        return word.replace(inner, "\\fI" + inner + "\\fR")
    return roff(word)


def _entry_roff(entry):
    if entry.is_option():
        tag = ", ".join(_option_roff(n) for n in entry.names)
        if entry.value:
            tag += " \\fI" + _plain(entry.value) + "\\fR"
    else:
        tag = "\\fI" + _plain(entry.names[0]) + "\\fR"
    notes = [n for n, on in (("required", entry.required), ("repeatable", entry.repeatable)) if on]
    if notes:
        tag += " (" + ", ".join(notes) + ")"
    return [".TP", tag, roff(_sentence(entry.description))]


def _changelog_date(path):
    with open(path, encoding="utf-8") as f:
        for line in f:
            if line.startswith(" -- "):
                stamp = line.split(">", 1)[1].strip()
                return email.utils.parsedate_to_datetime(stamp).strftime("%Y-%m-%d")
    raise HelpError(f"{path}: no trailer line with a date")


def _extra_sections(path):
    """Hand-written sections: `[NAME]` lines, each followed by its roff text."""
    sections, name = [], None
    with open(path, encoding="utf-8") as f:
        for line in f.read().split("\n"):
            if re.match(r"^\[[A-Z ]+\]$", line):
                name = line[1:-1]
                sections.append([f'.SH "{name}"'])
            elif name is not None:
                sections[-1].append(line)
    return ["\n".join(s).rstrip() for s in sections]


def man_page(top, commands, version, date, extra):
    summary = " ".join(top.description).rstrip(".")
    if summary[1:2].islower():
        summary = summary[0].lower() + summary[1:]
    out = [
        ".\\\" Generated from the output of `kovsea --help` by packaging/help_docs.py; do not edit.",
        f'.TH KOVSEA 1 {date} "kovsea {version}" "User Commands"',
        ".SH NAME",
        "kovsea \\- " + roff(summary),
        ".SH SYNOPSIS",
        ".nf",
        _usage_roff(top.usage),
    ]
    out += [_usage_roff(command.usage) for _, command in commands]
    out += [".fi", ".SH DESCRIPTION", roff(" ".join(top.description))]
    for paragraph in top.footer:
        out += [".PP", roff(paragraph)]
    out += [".SH OPTIONS"]
    for entry in top.options() + top.positionals():
        out += _entry_roff(entry)
    out += [".SH COMMANDS", "Each command also takes " + _option_roff("-h") + ", " + _option_roff("--help") +
            ", which prints its help."]
    for name, command in commands:
        out += [f'.SS "kovsea {name}"', roff(_sentence(" ".join(command.description)))]
        for paragraph in command.footer:
            out += [".PP", roff(paragraph)]
        for entry in command.positionals() + command.options():
            if entry.names not in (["-h", "--help"], ["--help"]):
                out += _entry_roff(entry)
    out += extra
    return "\n".join(out) + "\n"


# --- bash completion --------------------------------------------------------------------------

BASH_TEMPLATE = """\
# bash completion for kovsea. Generated from the output of `kovsea --help` by
# packaging/help_docs.py; do not edit.

_kovsea()
{{
    local cur=${{COMP_WORDS[COMP_CWORD]}} prev=
    (( COMP_CWORD > 0 )) && prev=${{COMP_WORDS[COMP_CWORD - 1]}}
    local command= i
    for (( i = 1; i < COMP_CWORD; i++ )); do
        case ${{COMP_WORDS[i]}} in
            {command_pattern}) command=${{COMP_WORDS[i]}}; break ;;
        esac
    done
    local options valued positional
    case $command in
{command_cases}
        *)
            options="{top_options}"
            if [[ $cur == -* ]]; then
                COMPREPLY=( $(compgen -W "$options" -- "$cur") )
            else
                COMPREPLY=( $(compgen -W "{command_names}" -- "$cur") )
            fi
            return 0 ;;
    esac
    # The value of an option that takes one, by the kind its placeholder names: nothing to
    # offer for a number or a digest, the code pages for a code page, a directory for a
    # directory, and a path for anything else.
    if [[ -n $prev && " $valued " == *" $prev "* ]]; then
        case " {none_options} " in
            *" $command:$prev "*) COMPREPLY=(); return 0 ;;
        esac
        case " {codepage_options} " in
            *" $command:$prev "*) COMPREPLY=( $(compgen -W "{codepages}" -- "$cur") ); return 0 ;;
        esac
        case " {directory_options} " in
            *" $command:$prev "*) compopt -o filenames 2>/dev/null; COMPREPLY=( $(compgen -d -- "$cur") ); return 0 ;;
        esac
        compopt -o filenames 2>/dev/null; COMPREPLY=( $(compgen -f -- "$cur") )
        return 0
    fi
    if [[ $cur == -* ]]; then
        COMPREPLY=( $(compgen -W "$options" -- "$cur") )
    elif [[ $positional == dir ]]; then
        compopt -o filenames 2>/dev/null; COMPREPLY=( $(compgen -d -- "$cur") )
    else
        compopt -o filenames 2>/dev/null; COMPREPLY=( $(compgen -f -- "$cur") )
    fi
    return 0
}}
complete -F _kovsea kovsea
"""


def _names(entries):
    return " ".join(n for e in entries for n in e.names)


# What a placeholder asks for, as completion offers it: nothing for a number (CLI11's UINT,
# INT, FLOAT, kovsea's S for seconds and N), a digest (HEX) or a free text (TEXT, KEY=VALUE);
# the Windows ANSI code pages for CP; directories for DIR; paths for every other (FILE,
# FILE.po, FILE.ico, ...).
NOTHING_TO_OFFER = ("UINT", "INT", "FLOAT", "NUMBER", "S", "N", "HEX", "TEXT", "KEY=VALUE")
CODEPAGES = "874 932 936 949 950 1250 1251 1252 1253 1254 1255 1256 1257 1258"


def bash_completion(top, commands):
    cases = []
    kinds = {"none": [], "codepage": [], "directory": []}
    for name, command in commands:
        options = command.options()
        valued = [e for e in options if e.value]
        for e in valued:
            kind = ("none" if e.value in NOTHING_TO_OFFER else
                    "codepage" if e.value == "CP" else "directory" if e.value == "DIR" else None)
            if kind:
                kinds[kind] += [f"{name}:{n}" for n in e.names]
        positional = "dir" if any(p.names[0] == "DIR" for p in command.positionals()) else "file"
        cases.append(f'        {name})\n'
                     f'            options="{_names(options)}"\n'
                     f'            valued="{_names(valued)}"\n'
                     f'            positional={positional} ;;')
    names = [name for name, _ in commands]
    return BASH_TEMPLATE.format(command_pattern="|".join(names), command_cases="\n".join(cases),
                                top_options=_names(top.options()), command_names=" ".join(names),
                                none_options=" ".join(kinds["none"]), codepages=CODEPAGES,
                                codepage_options=" ".join(kinds["codepage"]),
                                directory_options=" ".join(kinds["directory"]))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("kind", choices=["man", "bash"])
    parser.add_argument("program")
    parser.add_argument("-o", "--output", required=True)
    parser.add_argument("--changelog", help="the Debian changelog whose latest entry dates the page")
    parser.add_argument("--extra", help="hand-written sections appended to the page")
    args = parser.parse_args()
    try:
        top, commands, version = read_program(args.program)
        if args.kind == "man":
            if not args.changelog:
                parser.error("man needs --changelog")
            extra = _extra_sections(args.extra) if args.extra else []
            text = man_page(top, commands, version, _changelog_date(args.changelog), extra)
        else:
            text = bash_completion(top, commands)
    except HelpError as error:
        print(f"help_docs.py: {error}", file=sys.stderr)
        return 1
    with open(args.output, "w", encoding="utf-8") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
