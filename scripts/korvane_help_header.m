function korvane_help_header(help_file, header_file)
% KORVANE_HELP_HEADER  Write a help file's text as a C++ string literal.
%
%   korvane_help_header(help_file, header_file) writes to header_file the
%   macro KORVANE_HELP_TEXT: the help text Octave shows for help_file, as a
%   string literal. An oct-file's help is its built-in doc string, which
%   Octave does not take from a same-named .m file, so the oct-file is built
%   with the text of the one help file. Octave only.
  [text, format] = get_help_text_from_file(help_file);
  if ~strcmp(format, 'plain text') || isempty(text)
    error('korvane_help_header: no plain help text in %s', help_file);
  end
  lines = strsplit(text, "\n", 'CollapseDelimiters', false);
  if isempty(lines{end})
    lines(end) = [];
  end
  fid = fopen(header_file, 'w');
  if fid < 0
    error('korvane_help_header: cannot write %s', header_file);
  end
  fprintf(fid, '// Generated from %s by korvane_help_header.m.\n', file_name(help_file));
  fprintf(fid, '#define KORVANE_HELP_TEXT \\\n');
  for n = 1:numel(lines)
    fprintf(fid, '  "%s\\n"', escaped(lines{n}));
    if n < numel(lines)
      fprintf(fid, ' \\');
    end
    fprintf(fid, '\n');
  end
  fclose(fid);
end

function name = file_name(path)
  [~, base, ext] = fileparts(path);
  name = [base ext];
end

% Backslashes and quotes escaped; anything outside printable ASCII as an
% octal escape, which cannot run into a following digit (three digits).
function out = escaped(line)
  out = '';
  for c = double(line)
    if c == 92 || c == 34
      out = [out '\' char(c)];
    elseif c < 32 || c > 126
      out = [out sprintf('\\%03o', c)];
    else
      out = [out char(c)];
    end
  end
end
