"""Files packed by our lzs-pack come back byte for byte from the real exe."""

import os
import random
import subprocess
import unittest

from e2e_case import ExeTestCase


class PackRoundTripTest(ExeTestCase):
    def pack(self, name: str, data: bytes) -> None:
        source = self.write(name, data)
        subprocess.run([os.environ["LZS_PACK"], str(source), "-o", str(source) + ".lzs"],
                       check=True, capture_output=True)

    def test_packed_files_unpack_to_the_original_bytes(self):
        corpus = self.dir / "corpus"
        corpus.mkdir()
        subprocess.run([os.environ["MAKE_CORPUS"], str(corpus), "300000"], check=True,
                       capture_output=True)
        rng = random.Random(7)
        inputs = {
            "text": (corpus / "text.bin").read_bytes(),
            "binary": (corpus / "binary.bin").read_bytes(),
            "zeros": bytes(70_000),
            "random": bytes(rng.randrange(256) for _ in range(50_000)),
            "one byte": b"\x00",
        }
        for name, data in inputs.items():
            with self.subTest(input=name):
                self.pack(name, data)
                result = self.run_exe(f'p /D"{name}.lzs" /O"{name}.out"', relay=False)
                self.assertEqual(result.exit_code, 0)
                self.assertEqual((self.dir / f"{name}.out").read_bytes(), data)


if __name__ == "__main__":
    unittest.main()
