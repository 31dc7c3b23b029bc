"""The platform calls of one whole successful run of the real exe, argument
by argument: the handles, block and counts that pass from call to call.
Which calls a run makes, in what order and with which flags and sizes, the
run tests check against the native layer; here, what only the real exe
shows. And the exact bytes of each notice."""

import unittest

from e2e_case import (CREATE_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN, FILE_SHARE_READ,
                      FORMAT_ERROR_TEXT, GENERAL_ERROR_TEXT, GENERIC_READ, GENERIC_WRITE,
                      GMEM_FIXED_ZEROINIT, OPEN_EXISTING, USAGE_TEXT, WORKED_EXAMPLE,
                      ExeTestCase, literal_image, pattern)


class PlatformCallsTest(ExeTestCase):
    def test_calls_of_a_successful_run(self):
        data = pattern(800)
        image = literal_image(data)
        self.assertEqual(len(image), 904)
        self.write("in.lzs", image)
        result = self.run_exe('p /D"in.lzs" /O"out.bin"')
        self.assertEqual(result.exit_code, 0)
        (command_line, open_input, size, alloc, read, create_output, write, beep1, pause, beep2,
         close_input, close_output, free, exit_process) = result.calls

        self.assertEqual(result.string(open_input.args[0]), b"in.lzs")
        self.assertEqual(open_input.values()[1:], [GENERIC_READ, FILE_SHARE_READ, 0,
                                                   OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, 0])
        input_handle = open_input.retval

        # The size is taken with a place for its high part.
        self.assertEqual(size.values()[0], input_handle)
        self.assertNotEqual(size.values()[1], 0)
        self.assertEqual(size.retval, len(image))

        self.assertEqual(alloc.values()[0], GMEM_FIXED_ZEROINIT)
        block = alloc.retval

        self.assertEqual(read.values()[:3], [input_handle, block, len(image)])
        self.assertNotEqual(read.values()[3], 0)
        self.assertEqual(read.values()[4], 0)

        self.assertEqual(result.string(create_output.args[0]), b"out.bin")
        self.assertEqual(create_output.values()[1:], [GENERIC_WRITE, FILE_SHARE_READ, 0,
                                                      CREATE_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN, 0])
        output_handle = create_output.retval

        # The output area: the first 512-aligned address past the input.
        output_area = write.values()[1]
        self.assertEqual(output_area % 512, 0)
        self.assertGreater(output_area, block + len(image))
        self.assertLessEqual(output_area, block + len(image) + 512)
        self.assertEqual(write.values()[0], output_handle)
        self.assertEqual(write.values()[2], len(data))
        self.assertEqual(write.values()[3], read.values()[3])  # the one count, used again
        self.assertEqual(write.values()[4], 0)

        self.assertEqual([beep1.values(), pause.values(), beep2.values()],
                         [[300, 20], [100], [400, 25]])
        self.assertEqual(close_input.values(), [input_handle])
        self.assertEqual(close_output.values(), [output_handle])
        self.assertEqual(free.values(), [block])
        self.assertEqual(exit_process.values(), [0])
        self.assertEqual(command_line.values(), [])
        self.assertEqual((self.dir / "out.bin").read_bytes(), data)

    def test_notice_texts(self):
        self.write("bad.lzs", WORKED_EXAMPLE[:-1])
        self.write("empty.lzs", b"")
        for line, text in (("p", USAGE_TEXT),
                           ('p /D"bad.lzs"', FORMAT_ERROR_TEXT),
                           ('p /D"empty.lzs"', GENERAL_ERROR_TEXT)):
            with self.subTest(line=line):
                result = self.run_exe(line)
                self.assert_notice(result, text)
                decode = result.calls_to("MultiByteToWideChar")[1]
                # The texts sit in the exe's read-only data, and are whole
                # there even where Wine's log cuts them.
                section = result.image.section_at(decode.args[2].value)
                self.assertIsNotNone(section)
                self.assertFalse(section.writable)
                self.assertTrue(text.startswith(decode.args[2].text))


if __name__ == "__main__":
    unittest.main()
