"""The page and the module in a real browser (Debian's headless Chromium) against the native tool:
images put through the page's file input and through quillpack.js give the dictionary --add gives;
thumbnails and extract show the pixels --extract writes for every kind of record; a damaged file
shows its reason and leaves the page working; names that are markup stay text. Leaves a screenshot
of the page with a dictionary open in .cache/web-page.png.
Run by scripts/test as: /usr/bin/python3 tests/web/browser-test.py <build-web/site> <quillpack>"""
import io
import os
import shutil
import sys
import tempfile
import unittest

from PIL import Image
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

sys.path.insert(0, os.path.dirname(__file__))
import browser  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SITE, TOOL = (os.path.abspath(path) for path in sys.argv[1:3])
DATA = os.path.join(ROOT, "tests", "data")
SAMPLE = os.path.join(ROOT, "samples", "brick.png")
CORPUS = os.environ.get("QUILLPACK_CORPUS_DIR", "")
PNG = lambda name: os.path.join(DATA, "pngsuite", name)  # noqa: E731
MARKUP = "<img src=x onerror=alert(1)>"


class BrowserTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.stack = __import__("contextlib").ExitStack()
        cls.url = cls.stack.enter_context(browser.served(SITE))
        cls.driver = cls.stack.enter_context(browser.chromium())
        cls.folder = cls.stack.enter_context(tempfile.TemporaryDirectory(prefix="quillpack-browser-"))

    @classmethod
    def tearDownClass(cls):
        cls.stack.close()

    def setUp(self):
        self.driver.get(self.url)
        self.driver.execute_script(browser.PAGE_HELPERS)
        self.wait_for(lambda d: d.find_element(By.ID, "status").text == "Ready.")

    def wait_for(self, condition, timeout=60):
        return WebDriverWait(self.driver, timeout).until(condition)

    # Inputs copied into a folder under the names the page will see, for the native tool to read.
    def inputs(self, files):
        folder = tempfile.mkdtemp(dir=self.folder)
        for name, path in files.items():
            shutil.copyfile(path, os.path.join(folder, name))
        return folder

    def native_add(self, folder, args, names, start=None):
        dictionary = os.path.join(folder, "dictionary.txd")
        if start:
            shutil.copyfile(start, dictionary)
        for name in names:
            run = browser.native(TOOL, ["--add", *args, "dictionary.txd", *name], folder)
            self.assertEqual(run.returncode, 0, run.stderr)
        return dictionary

    def pick(self, input_id, paths):
        self.driver.find_element(By.ID, input_id).send_keys("\n".join(paths))

    def wait_for_thumbnails(self):
        self.wait_for(lambda d: d.find_element(By.ID, "textures").get_attribute("data-ready") == "true")

    def page_dictionary(self):
        self.driver.find_element(By.ID, "download").click()
        count = self.driver.execute_script("return window.__downloads.length")
        return browser.from_page(self.driver.execute_async_script(
            "arguments[arguments.length - 1](await window.__download(arguments[0]))", count - 1))

    def module(self, script, *args):
        """Runs `script` (the body of an async function of qp and args) in the page."""
        return self.driver.execute_async_script(f"""
            const done = arguments[arguments.length - 1];
            const args = Array.from(arguments).slice(0, -1);
            import('./quillpack.js').then(async ({{ createQuillpack }}) => {{
              window.__qp ??= await createQuillpack();
              try {{ done(await (async (qp, ...args) => {{ {script} }})(window.__qp, ...args)); }}
              catch (error) {{ done({{ error: error.message }}); }}
            }});""", *args)

    def mixed_dictionary(self):
        """A dictionary with a DXT1, a DXT3, a 32-bit and a palettised record, made by the tool."""
        folder = self.inputs({"crate.png": SAMPLE, "leaf.png": PNG("basn6a08.png"),
                              "leaf_alpha.png": PNG("basn4a08.png"), "glass.png": PNG("basn6a08.png"),
                              "sign.png": PNG("basn3p08.png")})
        path = self.native_add(folder, [], [["crate.png"], ["leaf.png", "leaf_alpha.png"]])
        self.native_add(folder, ["--format", "32"], [["glass.png", "glass.png"]])
        self.native_add(folder, ["--format", "8"], [["sign.png"]])
        return folder, path

    def test_images_through_the_file_input_give_the_tools_dictionary(self):
        cases = [
            ("one image, default format", {"brick.png": SAMPLE}, [], [["brick.png"]]),
            ("an image and its _alpha and _mask partners", {"leaf.png": PNG("basn6a08.png"),
             "leaf_alpha.png": PNG("basn4a08.png"), "tile.png": PNG("basn2c08.png"),
             "tile_mask.png": PNG("basn6a08.png")}, [], [["leaf.png", "leaf_alpha.png"], ["tile.png", "tile_mask.png"]]),
            ("32-bit with mip maps asked", {"brick.png": SAMPLE}, ["--format", "32", "--mipmaps"], [["brick.png"]]),
        ]
        for title, files, args, adds in cases:
            with self.subTest(title):
                self.setUp()
                folder = self.inputs(files)
                if "--format" in args:
                    self.driver.execute_script(
                        "document.getElementById('format').value = arguments[0]", args[args.index("--format") + 1])
                if "--mipmaps" in args:
                    self.driver.find_element(By.ID, "mipmaps").click()
                self.pick("images", [os.path.join(folder, name) for add in adds for name in add])
                self.wait_for_thumbnails()
                expected = self.native_add(folder, args, adds)
                with open(expected, "rb") as file:
                    self.assertEqual(self.page_dictionary(), file.read())

    def test_module_packs_the_corpus_image_as_the_tool_does(self):
        image = os.path.join(CORPUS, "23_gn_grid_d_2048.png")
        if not os.path.exists(image):
            image = SAMPLE  # no corpus here: the sample image stands in
        name = os.path.basename(image)
        for args, options in [([], {}), (["--format", "dxt3", "--mipmaps"], {"format": "dxt3", "mipmaps": True})]:
            with self.subTest(args=args):
                folder = self.inputs({name: image})
                with open(self.native_add(folder, args, [[name]]), "rb") as file:
                    expected = file.read()
                with open(image, "rb") as file:
                    packed = self.module("""
                        const [image, options] = args;
                        return window.__b64(await qp.pack(window.__bytes(image), options));""",
                        browser.to_page(file.read()), {**options, "fileName": name})
                self.assertEqual(browser.from_page(packed), expected)

    def test_thumbnails_and_extract_show_the_pixels_the_tool_extracts(self):
        folder, path = self.mixed_dictionary()
        run = browser.native(TOOL, ["--extract", "dictionary.txd", "out"], folder)
        self.assertEqual(run.returncode, 0, run.stderr)
        written = run.stdout.decode().split()
        self.pick("dictionary-file", [path])
        self.wait_for_thumbnails()
        facts = [element.text for element in self.driver.find_elements(By.CSS_SELECTOR, ".texture .facts")]
        self.assertEqual([fact.split(" · ")[0] for fact in facts], ["DXT1", "DXT3", "32-bit", "8-bit palette"])
        thumbnails = self.driver.execute_script("""
            return [...document.querySelectorAll('#textures canvas')].map((canvas) =>
              window.__b64(new Uint8Array(canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data.buffer)));""")
        with open(path, "rb") as file:
            dictionary = browser.to_page(file.read())
        extracted = self.module("""
            const bytes = window.__bytes(args[0]);
            const out = [];
            for (const entry of await qp.list(bytes)) out.push(window.__b64((await qp.extract(bytes, entry.index)).rgba));
            return out;""", dictionary)
        self.assertEqual(len(written), 4)
        for index, png in enumerate(written):
            with self.subTest(texture=png):
                expected = Image.open(os.path.join(folder, png)).convert("RGBA").tobytes()
                self.assertEqual(browser.from_page(extracted[index]), expected)
                shown = browser.from_page(thumbnails[index])
                self.assertEqual(len(shown), len(expected))
                # A canvas keeps colour premultiplied by alpha: opaque pixels come back exactly, the
                # others within that rounding, and alpha always exactly.
                for at in range(0, len(expected), 4):
                    alpha = expected[at + 3]
                    self.assertEqual(shown[at + 3], alpha)
                    slack = 0 if alpha == 255 else 256 if alpha == 0 else -(-255 // alpha)
                    for channel in range(3):
                        self.assertLessEqual(abs(shown[at + channel] - expected[at + channel]), slack)

        # The full view, for people: saved under .cache for a look.
        self.driver.find_elements(By.CSS_SELECTOR, ".texture")[1].click()
        self.wait_for(lambda d: d.find_element(By.ID, "detail").get_attribute("open") is not None)
        self.driver.find_element(By.ID, "detail-close").click()
        os.makedirs(os.path.join(ROOT, ".cache"), exist_ok=True)
        self.driver.save_screenshot(os.path.join(ROOT, ".cache", "web-page.png"))

    def test_a_damaged_file_shows_its_reason_and_the_page_goes_on(self):
        folder, path = self.mixed_dictionary()
        with open(path, "rb") as file:
            whole = file.read()
        damaged = os.path.join(folder, "damaged.txd")
        for title, content in [("truncated", whole[:200]), ("not a dictionary", b"GIF89a" + bytes(100)),
                               ("a count far beyond the file", whole[:24] + b"\xff\xff" + whole[26:])]:
            with self.subTest(title):
                with open(damaged, "wb") as file:
                    file.write(content)
                listed = browser.native(TOOL, ["--list", "damaged.txd"], folder)
                self.assertEqual(listed.returncode, 1)
                self.pick("dictionary-file", [damaged])
                problem = self.wait_for(lambda d: d.find_element(By.ID, "problem").is_displayed()
                                        and d.find_element(By.ID, "problem"))
                reason = listed.stderr.decode().strip().splitlines()[-1]
                self.assertIn(reason.replace("damaged.txd", "dictionary.txd"), problem.text)
                self.pick("dictionary-file", [path])
                self.wait_for_thumbnails()
                self.assertEqual(len(self.driver.find_elements(By.CSS_SELECTOR, ".texture")), 4)

    def test_names_that_are_markup_stay_text(self):
        folder = self.inputs({f"{MARKUP}.png": SAMPLE, "plain.png": SAMPLE, "plain_alpha.png": PNG("basn6a08.png")})
        path = self.native_add(folder, [], [[f"{MARKUP}.png"]])
        mask = os.path.join(folder, f"{MARKUP[:20]}.png")
        shutil.copyfile(SAMPLE, mask)
        self.native_add(folder, [], [["plain.png", os.path.basename(mask)]])
        self.pick("dictionary-file", [path])
        self.wait_for_thumbnails()
        names = [element.text for element in self.driver.find_elements(By.CSS_SELECTOR, ".texture .name")]
        self.assertEqual(names, [MARKUP, "plain"])
        self.assertIn(f"mask {MARKUP[:20]}", self.driver.find_elements(By.CSS_SELECTOR, ".texture .facts")[1].text)
        self.assertEqual(self.driver.find_elements(By.CSS_SELECTOR, "#textures img"), [])
        self.driver.find_elements(By.CSS_SELECTOR, ".texture")[0].click()
        self.wait_for(lambda d: d.find_element(By.ID, "detail-title").text == MARKUP)
        self.driver.find_element(By.ID, "png").click()
        stem = self.module("return qp.safeFileStem(args[0])", MARKUP)
        self.assertEqual(stem, "_img_src_x_onerror_alert_1__")
        alerts = [entry for entry in self.driver.get_log("browser") if "alert" in entry.get("message", "")]
        self.assertEqual(alerts, [])


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
