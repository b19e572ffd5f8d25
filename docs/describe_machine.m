% The header lines that name where a measurement ran: Octave's version, its
% BLAS (version('-blas')) and the CPU as lscpu names it, e.g.
%   # CPU: AMD EPYC, CPU family 25 model 17
% The charts print these lines as their captions.
function lines = describe_machine()
  [status, text] = system('LC_ALL=C lscpu');
  if status ~= 0
    text = '';
  end
  cpu = lscpu_field(text, 'Model name');
  family = lscpu_field(text, 'CPU family');
  model = lscpu_field(text, 'Model');
  if ~isempty(family)
    cpu = sprintf('%s, CPU family %s model %s', cpu, family, model);
  elseif ~isempty(model)
    cpu = sprintf('%s, model %s', cpu, model);
  end
  if isempty(cpu)
    cpu = 'unknown (no lscpu)';
  end
  lines = sprintf('# Octave: %s\n# BLAS: %s\n# CPU: %s\n', version(), version('-blas'), cpu);
end

function value = lscpu_field(text, name)
  value = regexp(text, ['(?m)^' name ':[ \t]*([^\n]*?)[ \t]*$'], 'tokens', 'once');
  if isempty(value)
    value = '';
  else
    value = value{1};
  end
end
