#!/usr/bin/env python3
"""Writes a program's manual page from its --help text, so that the two say
the same. The text's layout: "usage: NAME ARGS", a one-line summary, then
sections headed by a line that ends in ':' whose entries are indented by two
blanks (the term, then its text after two blanks or on lines indented by
six); other lines are paragraphs of the description.

    make_man.py PROGRAM OUT.1 [SEE-ALSO ...]
"""
import os
import re
import subprocess
import sys


def roff(text):
    text = text.replace('\\', '\\e').replace('-', '\\-')
    return '\\&' + text if text[:1] in ('.', "'") else text


def parse(help_text):
    lines = help_text.rstrip('\n').split('\n')
    usage = re.fullmatch(r'usage: (\S+) ?(.*)', lines[0])
    assert usage, 'the first line is the usage line'
    summary = lines[1].strip()
    description, sections, current = [], [], None
    for line in lines[2:]:
        if not line.strip():
            current = None if current is None or current[1] else current
            continue
        if re.fullmatch(r'[a-z][a-z ]*:', line):
            current = (line[:-1].upper(), [])
            sections.append(current)
        elif line.startswith('      ') and current and current[1]:
            term, text = current[1][-1]
            current[1][-1] = (term, (text + ' ' + line.strip()).strip())
        elif line.startswith('  ') and current:
            term, _, text = line.strip().partition('  ')
            current[1].append((term, text.strip()))
        else:
            current = None
            description.append(line.strip())
    return usage.group(1), usage.group(2), summary, description, sections


def page(help_text, see_also):
    name, args, summary, description, sections = parse(help_text)
    out = ['.TH %s 1 "" "%s" "User Commands"' % (roff(name.upper()), roff(name)),
           '.SH NAME', '%s \\- %s' % (roff(name), roff(summary[0].lower() + summary[1:].rstrip('.'))),
           '.SH SYNOPSIS', '.B %s' % roff(name), roff(args),
           '.SH DESCRIPTION', roff(summary)]
    for paragraph in description:
        out += ['.PP', roff(paragraph)]
    for title, entries in sections:
        out.append('.SH %s' % roff(title))
        for term, text in entries:
            out += ['.TP', '.B "%s"' % roff(term), roff(text)]
    if see_also:
        out += ['.SH SEE ALSO', ',\n'.join('.BR %s (1)' % roff(s) for s in see_also)]
    return '\n'.join(out) + '\n'


if __name__ == '__main__':
    program, target = sys.argv[1], sys.argv[2]
    env = dict(os.environ, LC_ALL='C')
    help_text = subprocess.run([program, '--help'], check=True, capture_output=True, text=True, env=env).stdout
    with open(target, 'w') as f:
        f.write(page(help_text, sys.argv[3:]))
