"""The page as a reader sees it: the example script converted by the real
program, opened in headless Chromium, and the DOM that Chromium builds
checked against the script.

    browser_test.py BINARY SOURCE_DIR CHROMIUM

The page declares no character set, so this also checks that the browser
recognises it as Shift-JIS.
"""
import html
import json
import re
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

BINARY, SOURCE, CHROMIUM = str(Path(sys.argv[1]).resolve()), Path(sys.argv[2]).resolve(), sys.argv[3]

# Appended to a copy of the page: writes what the browser made of it into the
# DOM, as ASCII-only JSON, so that nothing depends on how the dump is encoded.
PROBE = rb"""
<script>
(function () {
  var rows = Array.prototype.map.call(document.querySelectorAll('table tr'), function (row) {
    var cells = row.querySelectorAll('td');
    var bold = cells[0].querySelector('b');
    var first = getComputedStyle(cells[0]);
    return {
      name: bold ? bold.innerHTML : null,
      text: cells[1].innerHTML,
      bold: bold !== null && Number(getComputedStyle(bold).fontWeight) >= 700,
      align: first.textAlign,
      wrap: first.whiteSpace
    };
  });
  var found = {charset: document.characterSet, title: document.title, rows: rows};
  var out = document.createElement('pre');
  out.id = 'probe';
  out.textContent = JSON.stringify(found).replace(/[\u0080-\uffff]/g, function (c) {
    return '\\u' + ('000' + c.charCodeAt(0).toString(16)).slice(-4);
  });
  document.body.appendChild(out);
})();
</script>
"""


def script_rows(script):
    """The rows the script's lines should become, decoded from Shift-JIS."""
    rows = []
    for line in script.decode("cp932").split("\r\n")[:-1]:
        fields = line.split("\t")
        rows.append((fields[0], fields[-1] if len(fields) > 1 else "\u3000"))
    return rows


def browse(script, page_name="scene.htm"):
    """What Chromium makes of the page that the program writes for the script under this name."""
    with tempfile.TemporaryDirectory() as folder:
        folder = Path(folder)
        (folder / "script.txt").write_bytes(script)
        subprocess.run([BINARY, "script.txt", page_name.encode()], cwd=folder, check=True, capture_output=True)
        probe = folder / "probe.htm"
        probe.write_bytes((folder / page_name).read_bytes() + PROBE)
        dump = subprocess.run(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             f"--user-data-dir={folder / 'profile'}", "--dump-dom", probe.as_uri()],
            check=True, capture_output=True, timeout=120).stdout.decode("utf-8")
    return json.loads(html.unescape(re.search(r'<pre id="probe">(.*?)</pre>', dump, re.S).group(1)))


class Browser(unittest.TestCase):
    def test_the_page_reads_as_the_script(self):
        script = (SOURCE / "examples" / "scene.txt").read_bytes()
        found = browse(script)

        self.assertEqual(found["charset"], "Shift_JIS")
        self.assertEqual(found["title"], "scene.htm")
        expected = script_rows(script)
        self.assertEqual(len(found["rows"]), len(expected), "one table row per script line")
        for row, (name, text) in zip(found["rows"], expected):
            with self.subTest(name=name):
                self.assertEqual((row["name"], row["text"]), (name, text))
                self.assertTrue(row["bold"])
                # The align attribute of a cell computes to Chromium's own name for it.
                self.assertIn(row["align"], ("right", "-webkit-right"))
                self.assertEqual(row["wrap"], "nowrap")

    def test_a_unicode_page_name_is_the_title(self):
        # Characters with a Shift-JIS form are written in it, the others as references.
        found = browse((SOURCE / "examples" / "scene.txt").read_bytes(), "台本😀Ä〜.htm")
        self.assertEqual(found["charset"], "Shift_JIS")
        self.assertEqual(found["title"], "台本😀Ä～.htm")

    def test_characters_of_a_utf8_script_outside_shift_jis_show_as_themselves(self):
        found = browse("\ufeffハルカ\t好き♡😀\r\n第二場\r\n".encode("utf-8"))
        self.assertEqual(found["charset"], "Shift_JIS")
        self.assertEqual([(row["name"], row["text"]) for row in found["rows"]],
                         [("ハルカ", "好き♡😀"), ("第二場", "\u3000")])

if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
