"""check's results in the formats of other tools: JUnit XML (--junit), which
CI test reporters show as they are, and one self-contained HTML page
(--html). Both take the result objects of check.py (docs/check.md); the
JSON format itself is check.write_json, described by docs/check.schema.json.
"""

import datetime
import html
import xml.etree.ElementTree as ElementTree

import check

# The characters XML 1.0 cannot hold at all (a file name may carry them).
NOT_IN_XML = dict.fromkeys(c for c in range(32) if c not in (9, 10, 13))


def xml_text(text):
    return str(text).translate(NOT_IN_XML)


def item_lines(items):
    """The items grouped as the summary groups them, one report text a line."""
    lines = []
    for name, grouped in check.group_counts(items):
        if grouped:
            lines.append("%s (%d):" % (name, len(grouped)))
            lines += ["  " + item["text"] for item in grouped]
    return lines


def test_case(suite, result):
    """One setup as a test case: residue is its failure, a check that failed
    in itself its error; the footprint is its standard output."""
    case = ElementTree.SubElement(suite, "testcase", name=xml_text(check.setup_name(result)),
                                  classname="trun95.check", time="%.1f" % result["seconds"])
    if result["status"] == "residue":
        failure = ElementTree.SubElement(case, "failure", type="residue",
                                         message="%d items left behind" % result["leftBehind"])
        failure.text = xml_text("\n".join(
            item_lines(result["residue"] + result["cautions"]["residue"])))
    elif result["status"] == "failed":
        error = ElementTree.SubElement(case, "error", type="failed",
                                       message=xml_text(result["note"]))
        error.text = xml_text("status %d: %s" % (result["exitStatus"], result["note"]))
    out = ElementTree.SubElement(case, "system-out")
    own = result["ownUninstaller"] or {}
    out.text = xml_text("\n".join(
        ["Setup: " + " ".join(result["setup"]),
         "Own uninstaller: %s" % (own.get("registered") or "none registered"),
         "Footprint: %d items" % (len(result["footprint"]) + len(result["cautions"]["footprint"]))]
        + item_lines(result["footprint"] + result["cautions"]["footprint"])))


def write_junit(path, results):
    """One test suite with a test case per setup program."""
    counts = {"tests": len(results),
              "failures": sum(r["status"] == "residue" for r in results),
              "errors": sum(r["status"] == "failed" for r in results)}
    attributes = {key: str(value) for key, value in counts.items()}
    seconds = "%.1f" % sum(r["seconds"] for r in results)
    suites = ElementTree.Element("testsuites", name="trun95 check", time=seconds, **attributes)
    suite = ElementTree.SubElement(suites, "testsuite", name="trun95 check", time=seconds,
                                   timestamp=now().strftime("%Y-%m-%dT%H:%M:%S"), **attributes)
    for result in results:
        test_case(suite, result)
    ElementTree.indent(suites)
    ElementTree.ElementTree(suites).write(path, encoding="UTF-8", xml_declaration=True)


def write_requested(args, results):
    """The files that check's --junit and --html ask for."""
    if args["junit"]:
        write_junit(args["junit"], results)
    if args["html"]:
        write_html(args["html"], results)


def now():
    return datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)


STYLE = """
body { font: 15px/1.45 system-ui, sans-serif; margin: 2em auto; max-width: 60em; color: #222; }
h1 { font-size: 1.5em; margin-bottom: .2em; }
h2 { font-size: 1.25em; border-bottom: 1px solid #ccc; padding-bottom: .2em; margin-top: 2em; }
h3 { font-size: 1em; margin: 1.2em 0 .3em; }
code, li { font-family: ui-monospace, monospace; font-size: .9em; }
ul { margin: 0; padding-left: 1.4em; }
li { margin: .1em 0; overflow-wrap: anywhere; }
li.stayed { background: #fde2e1; border-left: 4px solid #c0392b; padding-left: .4em; }
.verdict { display: inline-block; padding: .2em .7em; border-radius: .3em; font-weight: bold; }
.clean { background: #d5f5e3; color: #1e7b45; }
.residue, .failed { background: #fde2e1; color: #a12a1f; }
.lists { display: flex; gap: 2em; flex-wrap: wrap; }
.lists > div { flex: 1 1 24em; min-width: 0; }
dl { display: grid; grid-template-columns: max-content 1fr; gap: .2em 1em; }
dt { color: #666; }
dd { margin: 0; overflow-wrap: anywhere; }
table { border-collapse: collapse; }
td, th { padding: .2em .8em; border-bottom: 1px solid #eee; text-align: left; }
"""


def item_list(title, items, stayed):
    """A list of items grouped by kind; those in stayed are highlighted."""
    parts = ["<h3>%s: %d items</h3>" % (title, len(items))]
    for name, grouped in check.group_counts(items):
        if grouped:
            parts.append("<h4>%s (%d)</h4><ul>" % (html.escape(name), len(grouped)))
            parts += ['<li%s>%s</li>' % (' class="stayed"' if (i["kind"], i["object"]) in stayed
                                         else "", html.escape(i["text"])) for i in grouped]
            parts.append("</ul>")
    if not items:
        parts.append("<p>none</p>")
    return "\n".join(parts)


def section(result):
    own = result["ownUninstaller"] or {}
    residue = result["residue"] + result["cautions"]["residue"]
    footprint = result["footprint"] + result["cautions"]["footprint"]
    stayed = {(i["kind"], i["object"]) for i in residue}
    verdict = {"clean": "clean", "residue": "%d items left behind" % len(residue),
               "failed": "the check failed (status %s)" % result["exitStatus"]}[result["status"]]
    facts = [("setup", "<code>%s</code>" % html.escape(" ".join(result["setup"]))),
             ("own uninstaller", html.escape(own.get("registered") or "none registered") +
              (" (ran)" if own.get("ran") else "")),
             ("took", "%.1f s" % result["seconds"])]
    if result["note"]:
        facts.append(("note", html.escape(result["note"])))
    return "\n".join(
        ['<section id="%s">' % html.escape(check.setup_name(result), quote=True),
         "<h2>%s <span class=\"verdict %s\">%s</span></h2>"
         % (html.escape(check.setup_name(result)), result["status"], html.escape(verdict)),
         "<dl>%s</dl>" % "".join("<dt>%s</dt><dd>%s</dd>" % fact for fact in facts),
         '<div class="lists"><div>', item_list("Residue (left behind)", residue, stayed),
         "</div><div>", item_list("Footprint (what setup did)", footprint, stayed),
         "</div></div></section>"])


def write_html(path, results):
    """One page: a table of the setups when there are several, then a
    section per setup with its residue and its footprint, what stayed
    highlighted in both."""
    written = now().strftime("%Y-%m-%d %H:%M:%S UTC")
    parts = ["<!DOCTYPE html>", '<html lang="en"><head><meta charset="utf-8">',
             "<title>trun95 check: %s</title>" % html.escape(
                 ", ".join(check.setup_name(r) for r in results)),
             "<style>%s</style></head><body>" % STYLE,
             "<h1>trun95 check</h1><p>%d setup%s, written %s</p>"
             % (len(results), "s"[:len(results) > 1], written)]
    if len(results) > 1:
        parts.append("<table><tr><th>setup</th><th>footprint</th><th>left behind</th>"
                     "<th>status</th></tr>")
        parts += ['<tr><td><a href="#%s">%s</a></td><td>%d</td><td>%s</td><td>%s</td></tr>'
                  % (html.escape(check.setup_name(r), quote=True),
                     html.escape(check.setup_name(r)),
                     len(r["footprint"]) + len(r["cautions"]["footprint"]),
                     "-" if r["leftBehind"] is None else r["leftBehind"], r["status"])
                  for r in results]
        parts.append("</table>")
    parts += [section(r) for r in results] + ["</body></html>"]
    with open(path, "w", encoding="utf-8") as stream:
        stream.write("\n".join(parts) + "\n")
