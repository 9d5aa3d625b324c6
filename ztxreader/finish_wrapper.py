"""Finishes the generated binding so that its argument errors are the ones the
module promises:

- fixed-count argument lists are parsed with PyArg_ParseTuple and an
  "O...:name" format, so a wrong count raises Python's own TypeError
  ("reader_clear() takes exactly 1 argument (0 given)");
- an overloaded function that matches no overload raises NotImplementedError
  with the list of prototypes.

usage: finish_wrapper.py <generated.cxx> <finished.cxx>
"""
import re
import sys

UNPACK = re.compile(
    r'PyArg_UnpackTuple\(args, "(?P<name>\w+)", (?P<low>\d+), (?P<high>\d+)(?P<slots>(?:, &obj\d+)*)\)')
OVERLOAD_FAILURE = ('SWIG_Python_RaiseOrModifyTypeError("Wrong number or type of arguments '
                    'for overloaded function')
OVERLOAD_REPLACEMENT = ('PyErr_SetString(PyExc_NotImplementedError, "Wrong number or type of '
                       'arguments for overloaded function')


def parse_tuple(match):
    low, high = int(match.group('low')), int(match.group('high'))
    if low != high:
        return match.group(0)
    name_format = 'O' * low + ':' + match.group('name')
    return 'PyArg_ParseTuple(args, "%s"%s)' % (name_format, match.group('slots'))


def main(source, target):
    with open(source, encoding='utf-8') as stream:
        text = stream.read()
    text, unpacked = UNPACK.subn(parse_tuple, text)
    overloads = text.count(OVERLOAD_FAILURE)
    text = text.replace(OVERLOAD_FAILURE, OVERLOAD_REPLACEMENT)
    if unpacked == 0 or overloads == 0:
        sys.exit('finish_wrapper: the generated code no longer has the expected shape')
    with open(target, 'w', encoding='utf-8') as stream:
        stream.write(text)


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2])
